// Any bytes as Tassio.ini: read, written back, read again. What the first read
// understood must survive the round trip exactly; anything else would change
// the user's settings each time the program ends.

#include "FuzzTempFile.h"

#include "settings/AppSettings.h"
#include "settings/SettingsFile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "fuzz_settings: %s\n", what);
    std::abort();
}

std::vector<std::string> paths(const UserPictures& list)
{
    std::vector<std::string> out;
    for (const UserPicture& p : list)
        out.push_back(p.path);
    return out;
}

std::vector<std::string> names(const UserPictures& list)
{
    std::vector<std::string> out;
    for (const UserPicture& p : list)
        out.push_back(p.name);
    return out;
}

void checkSame(const AppSettings& a, const AppSettings& b)
{
    struct Field { const char* name; int first, second; };
    const Field fields[] = {
        { "anchorX", a.anchorX, b.anchorX },
        { "anchorY", a.anchorY, b.anchorY },
        { "tickInterval", a.tickInterval, b.tickInterval },
        { "pendulumLength", a.pendulumLength, b.pendulumLength },
        { "swingAngle", a.swingAngle, b.swingAngle },
        { "alwaysOnTop", a.alwaysOnTop, b.alwaysOnTop },
        { "figureIndex", a.figureIndex, b.figureIndex },
        { "uniformSwing", a.uniformSwing, b.uniformSwing },
        { "changePictureOnDrop", a.changePictureOnDrop, b.changePictureOnDrop },
    };
    for (const Field& f : fields) {
        if (f.first != f.second) {
            std::fprintf(stderr, "%s: %d then %d\n", f.name, f.first, f.second);
            fail("a number changed in the round trip");
        }
    }
    if (a.soundFile != b.soundFile)
        fail("soundFile changed in the round trip");
    if (a.textProgram != b.textProgram)
        fail("textProgram changed in the round trip");
    if (paths(a.pictures) != paths(b.pictures)) {
        std::fprintf(stderr, "paths: %d then %d\n", a.pictures.count(), b.pictures.count());
        fail("picture paths changed in the round trip");
    }
    if (names(a.pictures) != names(b.pictures))
        fail("picture names changed in the round trip");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string input = fuzzing::scratchDir() + "/input.ini";
    static const std::string output = fuzzing::scratchDir() + "/Tassio.ini";

    // The escape alone: every value, whatever its bytes, comes back unchanged
    // from a single token without white space.
    const std::string value(reinterpret_cast<const char*>(data), size);
    const std::string token = encodeSettingsToken(value);
    if (token.empty() || token.find_first_of(" \t\n\v\f\r") != std::string::npos)
        fail("encoded token is empty or holds white space");
    if (decodeSettingsToken(token) != value)
        fail("decode(encode(value)) differs from value");

    fuzzing::writeWhole(input, data, size);
    AppSettings first;
    readSettingsFile(input, first);

    if (!writeSettingsFile(output, first))
        fail("writeSettingsFile failed in a writable folder");
    AppSettings second;
    readSettingsFile(output, second);
    checkSame(first, second);
    return 0;
}
