# One static library per source folder. Sources include one another as
# "<folder>/<File>.h", and a folder's headers are on the include path only of
# the targets that link its library: each library exports a directory of its
# own in the build tree that holds nothing but a link named after the folder.
# An include of a folder a target does not link, such as one reaching up a
# layer, then fails to compile. The folders link one another along the layers
# that tools/check_includes.py names (LAYERS).
#
#   tassio_folder_library(<target> [QT] SOURCES <files>...)
#
# QT: the folder's classes use Qt (moc, uic and rcc run over them); without it
# the library is core code and Qt's headers are not on its path at all.
function(tassio_folder_library target)
    cmake_parse_arguments(F "QT" "" "SOURCES" ${ARGN})
    get_filename_component(folder "${CMAKE_CURRENT_SOURCE_DIR}" NAME)
    set(exported "${CMAKE_BINARY_DIR}/folders/${target}")
    file(MAKE_DIRECTORY "${exported}")
    file(CREATE_LINK "${CMAKE_CURRENT_SOURCE_DIR}" "${exported}/${folder}" SYMBOLIC)
    add_library(${target} STATIC ${F_SOURCES})
    target_include_directories(${target} PUBLIC "${exported}")
    # tests/CMakeLists.txt writes down what each of them links.
    set_property(GLOBAL APPEND PROPERTY TASSIO_FOLDER_LIBRARIES ${target})
    if(F_QT)
        target_link_libraries(${target} PUBLIC Qt6::Widgets)
    else()
        set_target_properties(${target} PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
    endif()
endfunction()
