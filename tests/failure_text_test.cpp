// The whole texts a failed check shows: French, like the dialog, with the name or amount that
// says what to do.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "cab_errors.h"
#include "resolve_name.h"
#include "volume_room.h"

namespace {

// The text of a heap block, freed.
std::string Take(char* text) {
    std::string s = text ? text : "(null)";
    free(text);
    return s;
}

std::string RoomText(uint64_t available, uint64_t needed) {
    Volume volume;
    volume.known = true;
    volume.available = available;
    wcscpy(volume.root, L"D:\\");
    char* text = nullptr;
    const int code = CheckRoom(volume, needed, &text);
    return std::to_string(code) + " " + Take(text);
}

TEST(FailureTextTest, ChecksSpeakFrenchAndNameWhatToDo) {
    const struct {
        const char* what;
        std::string text;
        const char* expected;
    } cases[] = {
        {"damaged installer", Take(IncompleteText(nullptr)),
         "Programme d'installation incomplet ou endommagé : téléchargez-le à nouveau."},
        {"damaged part", Take(IncompleteText("setup-2.cab")),
         "Programme d'installation incomplet ou endommagé (setup-2.cab) : téléchargez-le à "
         "nouveau."},
        {"refused name", Take(RefusedNameText("sub\\NUL.txt")),
         "Nom de fichier impossible à écrire sous Windows : sub\\NUL.txt"},
        {"empty name", Take(RefusedNameText("")),
         "Nom de fichier impossible à écrire sous Windows : (nom vide)"},
        {"no room", RoomText(1u << 20, (2u << 20) + 200000),
         "1003 Espace disque insuffisant : libérez 1,2 Mo sur D:\\, puis réessayez."},
        {"room enough", RoomText(5u << 20, 5u << 20), "0 (null)"},
        {"design's own text", Take(ComposeFailureText(FDIERROR_CABINET_NOT_FOUND, "pkg-2.cab")),
         "Cabinet file (or part of splitted CAB) not found: pkg-2.cab"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.text, c.expected) << c.what;
}

} // namespace
