# Empties the tests' home folders: cmake -DROOT=<folder> -DNAMES=<a,b,...> -P TestHomes.cmake
file(REMOVE_RECURSE "${ROOT}")
string(REPLACE "," ";" NAMES "${NAMES}")
foreach(name IN LISTS NAMES)
    file(MAKE_DIRECTORY "${ROOT}/${name}/.config")
endforeach()
