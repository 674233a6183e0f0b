// The packed program driven through its real dialog: windows found by process, texts read and
// buttons pressed with window messages, files and launched programs checked afterwards.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "cab_writer.h"
#include "dialog_driver.h"
#include "test_util.h"
#include "window_bitmap.h"

namespace {

std::string Fixture(const char* name) {
    return ReadBytes(ExeDir() + "\\fixtures\\" + name);
}

// The visible top-level windows of one process.
struct WindowSearch {
    DWORD pid;
    int found;
};

BOOL CALLBACK CountVisible(HWND hwnd, LPARAM context) {
    WindowSearch* search = reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    if (owner == search->pid && IsWindowVisible(hwnd))
        ++search->found;
    return TRUE;
}

// One packed program (the stub with a cabinet appended) running in its own working folder.
class Installer {
  public:
    // The program written into exeDir (empty: workDir) and started in workDir, with args.
    Installer(const std::string& cab, const std::string& workDir, const std::string& exeDir = "",
              const std::wstring& args = L"") {
        const std::string exe = (exeDir.empty() ? workDir : exeDir) + "\\inst.exe";
        WriteBytes(exe, ReadBytes(ExeDir() + "\\..\\OrvantaSfx.exe") + cab);
        process_ = StartProgram(L"\"" + Wide(exe) + L"\"" + (args.empty() ? L"" : L" " + args),
                                Wide(workDir), &pid_);
        if (!process_)
            throw std::runtime_error("cannot start the installer");
    }
    ~Installer() {
        if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0)
            TerminateProcess(process_, 99);
        CloseHandle(process_);
    }

    // A visible top-level window of the program with this title, or null after the timeout.
    HWND WaitWindow(const wchar_t* title, DWORD timeoutMs = 20000) {
        return ::WaitWindow(pid_, title, timeoutMs);
    }
    HWND Dialog() {
        if (!dialog_)
            dialog_ = WaitWindow(kDialogTitle);
        return dialog_;
    }
    std::wstring Text(int id) { return ControlText(Dialog(), id); }
    bool Enabled(int id) { return IsWindowEnabled(GetDlgItem(Dialog(), id)) != FALSE; }
    void Press(int id) { PressButton(Dialog(), id); }
    // Waits for a message box, checks its text when given, and presses one of its buttons.
    std::wstring Answer(const wchar_t* caption, int button, DWORD timeoutMs = 20000) {
        HWND box = WaitWindow(caption, timeoutMs);
        return box ? AnswerBox(box, button) : L"<no box>";
    }
    bool WaitProgress(const std::wstring& prefix, DWORD timeoutMs = 20000) {
        const DWORD start = GetTickCount();
        do {
            if (Text(IDC_PROGRESS_TEXT).compare(0, prefix.size(), prefix) == 0)
                return true;
            Sleep(1);
        } while (GetTickCount() - start < timeoutMs);
        return false;
    }
    // The exit code; 259 (still active) when it did not end in time.
    DWORD WaitExit(DWORD timeoutMs = 30000) {
        WaitForSingleObject(process_, timeoutMs);
        DWORD code = 0;
        GetExitCodeProcess(process_, &code);
        return code;
    }
    bool Running() { return WaitForSingleObject(process_, 0) != WAIT_OBJECT_0; }
    // Visible top-level windows the program has at the moment.
    int VisibleWindows() {
        WindowSearch search = {pid_, 0};
        EnumWindows(CountVisible, reinterpret_cast<LPARAM>(&search));
        return search.found;
    }

  private:
    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
    HWND dialog_ = nullptr;
};

// The lines of launched.txt in a folder, waiting a little for a started program to write.
std::vector<std::string> Launches(const std::string& folder, size_t expected) {
    std::vector<std::string> lines;
    for (int i = 0; i < 500; ++i) {
        lines.clear();
        if (PathExists(folder + "\\launched.txt")) {
            std::string all = ReadBytes(folder + "\\launched.txt");
            size_t at = 0, nl;
            while ((nl = all.find('\n', at)) != std::string::npos) {
                std::string line = all.substr(at, nl - at);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                lines.push_back(line);
                at = nl + 1;
            }
        }
        if (lines.size() >= expected)
            break;
        Sleep(10);
    }
    if (expected == 0)
        Sleep(500); // nothing should come; give a wrong start the time to show
    return lines;
}

void SaveScreenshot(HWND hwnd) {
    const char* dir = getenv("ORVANTA_SCREENSHOT_DIR");
    if (!dir)
        return;
    CreateDirectoryA(dir, nullptr);
    SaveWindowBitmap(hwnd, (std::string(dir) + "\\dialog.bmp").c_str());
}

TEST(DialogTest, InitialTextsAndStates) {
    TempDir dir("gui-initial");
    Installer inst(Fixture("gui-nosetup.cab"), dir.path());
    ASSERT_NE(inst.Dialog(), nullptr);
    EXPECT_EQ(inst.Text(IDC_DEST_PATH), Wide(dir.path()) + L"\\Extract");
    EXPECT_EQ(inst.Text(IDC_PROGRESS_TEXT), L"");
    EXPECT_EQ(inst.Text(IDC_EXTRACT), L"Extraire");
    EXPECT_EQ(inst.Text(IDCANCEL), L"Annuler");
    EXPECT_EQ(inst.Text(IDC_BROWSE), L"...");
    for (int id : {IDC_DEST_PATH, IDC_BROWSE, IDC_EXTRACT, IDCANCEL})
        EXPECT_TRUE(inst.Enabled(id)) << id;
    const LONG style = GetWindowLongW(inst.Dialog(), GWL_STYLE);
    EXPECT_EQ(style & WS_SYSMENU, 0); // no close box
    Sleep(200);                       // let it paint before the picture
    SaveScreenshot(inst.Dialog());

    // Annuler answered No changes nothing; Yes before the start ends at once, making nothing.
    inst.Press(IDCANCEL);
    EXPECT_EQ(inst.Answer(L"Annuler...", IDNO),
              L"Voulez-vous vraiment annuler la procédure d'extraction ?");
    Sleep(100);
    EXPECT_TRUE(inst.Running());
    EXPECT_TRUE(inst.Enabled(IDC_EXTRACT));
    inst.Press(IDCANCEL);
    inst.Answer(L"Annuler...", IDYES);
    EXPECT_EQ(inst.WaitExit(), 0u);
    EXPECT_FALSE(PathExists(dir / "Extract"));
}

// Started from the system folder (the Run box, an elevated shortcut), the program proposes a
// folder beside itself rather than one inside Windows.
TEST(DialogTest, SystemFolderIsNotProposed) {
    TempDir dir("gui-system");
    char system[MAX_PATH] = {};
    ASSERT_GT(GetSystemDirectoryA(system, MAX_PATH), 0u);
    Installer inst(Fixture("gui-nosetup.cab"), system, dir.path());
    ASSERT_NE(inst.Dialog(), nullptr);
    EXPECT_EQ(inst.Text(IDC_DEST_PATH), Wide(dir.path()) + L"\\Extract");
    inst.Press(IDCANCEL);
    inst.Answer(L"Annuler...", IDYES);
    EXPECT_EQ(inst.WaitExit(), 0u);
}

// A file of an earlier run held by another program is named before anything is written:
// Annuler leaves the folder as it was, Réessayer once it is free extracts everything.
TEST(DialogTest, FileHeldByAnotherProgramIsAskedAbout) {
    for (int button : {IDCANCEL, IDRETRY}) {
        TempDir dir("gui-held");
        const std::string out = dir / "Extract";
        CreateDirectoryA(out.c_str(), nullptr);
        WriteBytes(out + "\\readme.txt", "held");
        CreateDirectoryA((out + "\\sub").c_str(), nullptr);
        WriteBytes(out + "\\sub\\data.txt", "old");
        HANDLE held = CreateFileA((out + "\\readme.txt").c_str(), GENERIC_READ, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        Installer inst(Fixture("gui-setup.cab"), dir.path());
        ASSERT_NE(inst.Dialog(), nullptr);
        inst.Press(IDC_EXTRACT);
        HWND box = inst.WaitWindow(L"Fichier utilisé");
        ASSERT_NE(box, nullptr) << button;
        EXPECT_EQ(WindowText(GetDlgItem(box, 0xFFFF)),
                  L"Le fichier « readme.txt » est utilisé par un autre programme. Fermez ce "
                  L"programme, puis cliquez sur Réessayer.");
        if (button == IDRETRY)
            CloseHandle(held);
        AnswerBox(box, button);
        EXPECT_EQ(inst.WaitExit(), 0u) << button;
        if (button == IDCANCEL) {
            CloseHandle(held);
            EXPECT_EQ(ReadBytes(out + "\\readme.txt"), "held");
            EXPECT_EQ(ReadBytes(out + "\\sub\\data.txt"), "old");
            EXPECT_TRUE(Launches(out, 0).empty());
        } else {
            EXPECT_EQ(ReadBytes(out + "\\readme.txt"), "read me\r\n");
            EXPECT_EQ(ReadBytes(out + "\\sub\\data.txt"), "data\r\n");
            EXPECT_EQ(Launches(out, 1).size(), 1u);
        }
    }
}

// Types one key into the program's dialog as a user does: the dialog brought to the front, the
// key pressed and released through the system's input queue.
void TypeKey(HWND dialog, WORD key, bool shift = false) {
    SetForegroundWindow(dialog);
    Sleep(100);
    INPUT input[4] = {};
    int n = 0;
    if (shift)
        input[n++].ki.wVk = VK_SHIFT;
    input[n++].ki.wVk = key;
    input[n].ki.wVk = key;
    input[n++].ki.dwFlags = KEYEVENTF_KEYUP;
    if (shift) {
        input[n].ki.wVk = VK_SHIFT;
        input[n++].ki.dwFlags = KEYEVENTF_KEYUP;
    }
    for (int i = 0; i < n; ++i)
        input[i].type = INPUT_KEYBOARD;
    SendInput(n, input, sizeof(INPUT));
    Sleep(200);
}

// The control of the dialog that has the keyboard focus; 0 when none.
int FocusedControl(HWND dialog) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info) || !info.hwndFocus)
        return 0;
    return GetDlgCtrlID(info.hwndFocus);
}

// The dialog answers the keyboard: Tab moves between its controls, Esc asks the cancel
// question, Enter extracts, and the focus leaves Extraire for Annuler once the run starts.
TEST(KeyboardTest, TabEscAndEnterWorkTheDialog) {
    TempDir dir("gui-keys");
    Installer inst(Fixture("gui-slow.cab"), dir.path());
    ASSERT_NE(inst.Dialog(), nullptr);
    EXPECT_EQ(FocusedControl(inst.Dialog()), IDC_EXTRACT);
    TypeKey(inst.Dialog(), VK_TAB);
    const int next = FocusedControl(inst.Dialog());
    EXPECT_NE(next, IDC_EXTRACT);
    EXPECT_NE(next, 0);
    TypeKey(inst.Dialog(), VK_TAB, true);
    EXPECT_EQ(FocusedControl(inst.Dialog()), IDC_EXTRACT);

    TypeKey(inst.Dialog(), VK_ESCAPE);
    EXPECT_EQ(inst.Answer(L"Annuler...", IDNO, 5000),
              L"Voulez-vous vraiment annuler la procédure d'extraction ?");
    EXPECT_TRUE(inst.Enabled(IDC_EXTRACT));

    TypeKey(inst.Dialog(), VK_RETURN);
    ASSERT_TRUE(inst.WaitProgress(L"Extraction : 02-large.bin", 10000)) << "Enter did not extract";
    EXPECT_FALSE(inst.Enabled(IDC_EXTRACT));
    EXPECT_EQ(FocusedControl(inst.Dialog()), IDCANCEL);
    TypeKey(inst.Dialog(), VK_ESCAPE);
    inst.Answer(L"Annuler...", IDYES, 5000);
    EXPECT_EQ(inst.Answer(L"Annulation", IDOK),
              L"L'extraction a été annulée cependant les fichiers ne seront pas supprimés");
    EXPECT_EQ(inst.WaitExit(), 0u);
}

TEST(DialogTest, ClosingTheWindowAsksTheSameQuestion) {
    TempDir dir("gui-close");
    Installer inst(Fixture("gui-nosetup.cab"), dir.path());
    ASSERT_NE(inst.Dialog(), nullptr);
    PostMessageW(inst.Dialog(), WM_CLOSE, 0, 0);
    EXPECT_EQ(inst.Answer(L"Annuler...", IDYES),
              L"Voulez-vous vraiment annuler la procédure d'extraction ?");
    EXPECT_EQ(inst.WaitExit(), 0u);
}

TEST(DialogTest, SetupProgramIsStartedFromTheDestination) {
    struct Case {
        const char* cab;
        std::vector<std::string> launches; // "<program>" started, working folder = destination
    } cases[] = {
        {"gui-setup.cab", {"Setup.exe"}},
        {"gui-stdsetup.cab", {"StdSetup.exe"}},
        {"gui-both.cab", {"Setup.exe"}},
        {"gui-nosetup.cab", {}},
    };
    for (const Case& c : cases) {
        TempDir dir("gui-setup");
        Installer inst(Fixture(c.cab), dir.path());
        ASSERT_NE(inst.Dialog(), nullptr);
        inst.Press(IDC_EXTRACT);
        EXPECT_EQ(inst.WaitExit(), 0u) << c.cab;
        std::vector<std::string> expected;
        for (const std::string& program : c.launches)
            expected.push_back(program + "|" + dir.path() + "\\Extract");
        EXPECT_EQ(Launches(dir / "Extract", expected.size()), expected) << c.cab;
        EXPECT_TRUE(PathExists(dir / "Extract\\readme.txt") ||
                    std::string(c.cab) == "gui-both.cab");
    }
}

// A setup program that exists but does not start is reported, with the system's reason.
TEST(DialogTest, SetupProgramThatDoesNotStartIsReported) {
    TempDir dir("gui-badsetup");
    Installer inst(Fixture("gui-badsetup.cab"), dir.path());
    ASSERT_NE(inst.Dialog(), nullptr);
    inst.Press(IDC_EXTRACT);
    const std::wstring said =
        L"Le programme d'installation « Setup.exe » n'a pas pu être démarré :\n\n";
    const std::wstring text = inst.Answer(L"Installation", IDOK);
    EXPECT_EQ(text.compare(0, said.size(), said), 0) << std::string(text.begin(), text.end());
    EXPECT_GT(text.size(), said.size()); // the reason
    EXPECT_EQ(inst.WaitExit(), 0u);
    EXPECT_TRUE(PathExists(dir / "Extract\\readme.txt"));
}

// Folders the ANSI code page (1252 here) cannot hold: the destination goes from the dialog to
// the disk and the setup program without passing through it.
TEST(DialogTest, FoldersOutsideTheAnsiCodePageAreKept) {
    TempDir dir("gui-unicode");
    const std::string work = dir / "\xce\xa9mega"; // Ωmega
    ASSERT_TRUE(MakeDirectory(work));
    {
        Installer inst(Fixture("gui-setup.cab"), work);
        ASSERT_NE(inst.Dialog(), nullptr);
        EXPECT_EQ(inst.Text(IDC_DEST_PATH), Wide(work) + L"\\Extract");
        inst.Press(IDC_EXTRACT);
        EXPECT_EQ(inst.WaitExit(), 0u);
        EXPECT_EQ(Launches(work + "\\Extract", 1),
                  std::vector<std::string>{"Setup.exe|" + work + "\\Extract"});
    }
    const std::string picked = dir / "\xe6\x97\xa5\xe6\x9c\xac"; // 日本, as the browser sets it
    {
        Installer inst(Fixture("gui-setup.cab"), dir.path());
        ASSERT_NE(inst.Dialog(), nullptr);
        SetWindowTextW(GetDlgItem(inst.Dialog(), IDC_DEST_PATH), Wide(picked).c_str());
        inst.Press(IDC_EXTRACT);
        EXPECT_EQ(inst.WaitExit(), 0u);
        EXPECT_EQ(Launches(picked, 1), std::vector<std::string>{"Setup.exe|" + picked});
    }
    // Nothing anywhere else: no best-fitted "Omega", no default Extract beside the program.
    std::vector<std::string> top;
    for (const std::string& entry : ListTree(dir.path()))
        if (entry.find('\\') == std::string::npos || entry.find('\\') == entry.size() - 1)
            top.push_back(entry);
    EXPECT_EQ(top, (std::vector<std::string>{"inst.exe", "\xce\xa9mega\\",
                                             "\xe6\x97\xa5\xe6\x9c\xac\\"}));
}

TEST(DialogTest, ControlsDuringARunAndConfirmedCancellation) {
    TempDir dir("gui-cancel");
    Installer inst(Fixture("gui-slow.cab"), dir.path());
    ASSERT_NE(inst.Dialog(), nullptr);
    inst.Press(IDC_EXTRACT);
    ASSERT_TRUE(inst.WaitProgress(L"Extraction : 02-large.bin"));
    EXPECT_FALSE(inst.Enabled(IDC_DEST_PATH));
    EXPECT_FALSE(inst.Enabled(IDC_BROWSE));
    EXPECT_FALSE(inst.Enabled(IDC_EXTRACT));
    EXPECT_TRUE(inst.Enabled(IDCANCEL));
    EXPECT_TRUE(IsWindowVisible(inst.Dialog())); // drawing was suspended only while disabling
    inst.Press(IDCANCEL);
    inst.Answer(L"Annuler...", IDYES);
    // Read the progress text while the notice holds the program open.
    ASSERT_NE(inst.WaitWindow(L"Annulation"), nullptr);
    EXPECT_TRUE(inst.WaitProgress(L"...", 5000)) << "progress text after the cancellation";
    EXPECT_EQ(inst.Answer(L"Annulation", IDOK),
              L"L'extraction a été annulée cependant les fichiers ne seront pas supprimés");
    EXPECT_EQ(inst.WaitExit(), 0u);
    EXPECT_TRUE(PathExists(dir / "Extract\\01-first.txt"));
    EXPECT_TRUE(PathExists(dir / "Extract\\02-large.bin")); // written files stay
    EXPECT_FALSE(PathExists(dir / "Extract\\03-later.txt"));
    EXPECT_FALSE(PathExists(dir / "Extract\\Setup.exe"));
    EXPECT_TRUE(Launches(dir / "Extract", 0).empty());
}

TEST(DialogTest, FailureThenCancellationShowsErrorFirst) {
    TempDir dir("gui-failcancel");
    CreateDirectoryA((dir / "Extract").c_str(), nullptr);
    CreateDirectoryA((dir / "Extract\\readme.txt").c_str(), nullptr); // cannot be written
    Installer inst(Fixture("gui-setup.cab"), dir.path());
    ASSERT_NE(inst.Dialog(), nullptr);
    inst.Press(IDC_EXTRACT);
    HWND error = inst.WaitWindow(L"Erreur");
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(WindowText(GetDlgItem(error, 0xFFFF)), L"Failure writing to target file");
    EXPECT_EQ(inst.Text(IDC_PROGRESS_TEXT), L"Extraction : readme.txt");
    EXPECT_FALSE(inst.Enabled(IDC_EXTRACT));
    // Cancel while the error is on screen, then dismiss the error.
    inst.Press(IDCANCEL);
    EXPECT_EQ(inst.Answer(L"Annuler...", IDYES),
              L"Voulez-vous vraiment annuler la procédure d'extraction ?");
    Sleep(300); // let the answer land before the error box goes
    inst.Answer(L"Erreur", IDOK);
    EXPECT_EQ(inst.Answer(L"Annulation", IDOK),
              L"L'extraction a été annulée cependant les fichiers ne seront pas supprimés");
    EXPECT_EQ(inst.WaitExit(), 0u);
    EXPECT_TRUE(Launches(dir / "Extract", 0).empty());
}

TEST(DialogTest, DamagedPayloadIsReported) {
    std::string corrupt = Fixture("gui-nosetup.cab");
    const size_t firstBlock =
        static_cast<unsigned char>(corrupt[36]) | static_cast<unsigned char>(corrupt[37]) << 8;
    corrupt[firstBlock + 8] = 'X'; // the MSZIP block signature
    struct Case {
        std::string cab;
        const wchar_t* message;
    } cases[] = {{corrupt, L"Corrupt cabinet"}, {"", L"Not a cabinet"}};
    for (const Case& c : cases) {
        TempDir dir("gui-damaged");
        Installer inst(c.cab, dir.path());
        ASSERT_NE(inst.Dialog(), nullptr);
        inst.Press(IDC_EXTRACT);
        EXPECT_EQ(inst.Answer(L"Erreur", IDOK), c.message);
        EXPECT_EQ(inst.WaitExit(), 0u);
    }
}

// Run alone with WINEDLLOVERRIDES=cabinet=d (see CMakeLists.txt).
// Unattended, the missing library is the run's code, not a box.
TEST(MissingLibraryTest, QuietRunEndsWith126) {
    TempDir dir("gui-nolib-quiet");
    Installer inst(Fixture("gui-setup.cab"), dir.path(), "", L"/quiet");
    EXPECT_EQ(inst.WaitExit(), 126u);
    EXPECT_TRUE(Launches(dir / "Extract", 0).empty());
}

TEST(MissingLibraryTest, EnglishMessageAndAnEmptyDestination) {
    TempDir dir("gui-nolib");
    Installer inst(Fixture("gui-setup.cab"), dir.path());
    ASSERT_NE(inst.Dialog(), nullptr);
    inst.Press(IDC_EXTRACT);
    EXPECT_EQ(inst.Answer(L"Erreur", IDOK), L"Could not load Cabinet.dll");
    EXPECT_EQ(inst.WaitExit(), 0u);
    EXPECT_TRUE(PathExists(dir / "Extract"));
    EXPECT_TRUE(ListTree(dir / "Extract").empty());
}

// T: is mapped to an empty folder by the map_drive_t test that runs first.
TEST(DialogTest, DriveRootProposesTwoBackslashes) {
    ASSERT_TRUE(PathExists("T:\\")) << "drive T: is not mapped";
    RemoveTree("T:\\Extract");
    DeleteFileA("T:\\inst.exe");
    {
        Installer inst(Fixture("gui-setup.cab"), "T:\\");
        ASSERT_NE(inst.Dialog(), nullptr);
        EXPECT_EQ(inst.Text(IDC_DEST_PATH), L"T:\\\\Extract");
        inst.Press(IDC_EXTRACT);
        EXPECT_EQ(inst.WaitExit(), 0u);
        EXPECT_TRUE(PathExists("T:\\Extract\\readme.txt"));
        // Started in the destination (the system folds the doubled backslash of the
        // working folder it was given).
        EXPECT_EQ(Launches("T:\\Extract", 1), std::vector<std::string>{"Setup.exe|T:\\Extract"});
    }
    RemoveTree("T:\\Extract");
    DeleteFileA("T:\\inst.exe");
}

TEST(DialogTest, FolderPickedInTheBrowserReplacesTheDestination) {
    TempDir dir("gui-browse");
    Installer inst(Fixture("gui-nosetup.cab"), dir.path());
    ASSERT_NE(inst.Dialog(), nullptr);
    inst.Press(IDC_BROWSE);
    HWND browser = inst.WaitWindow(nullptr); // the shell's browser, whatever its caption
    ASSERT_NE(browser, nullptr);
    // Cancelling keeps the destination.
    Sleep(300);
    PostMessageW(browser, WM_COMMAND, IDCANCEL, 0);
    Sleep(300);
    EXPECT_EQ(inst.Text(IDC_DEST_PATH), Wide(dir.path()) + L"\\Extract");
    // OK on the browser's initial selection: a real folder, which replaces the whole text.
    inst.Press(IDC_BROWSE);
    browser = inst.WaitWindow(nullptr);
    ASSERT_NE(browser, nullptr);
    Sleep(300);
    PostMessageW(browser, WM_COMMAND, IDOK, 0);
    Sleep(500);
    const std::wstring picked = inst.Text(IDC_DEST_PATH);
    EXPECT_NE(picked, Wide(dir.path()) + L"\\Extract");
    EXPECT_EQ(picked.find(L"Extract"), std::wstring::npos)
        << "picked: " << std::string(picked.begin(), picked.end());
    EXPECT_NE(GetFileAttributesW(picked.c_str()), INVALID_FILE_ATTRIBUTES);
    inst.Press(IDCANCEL);
    inst.Answer(L"Annuler...", IDYES);
    EXPECT_EQ(inst.WaitExit(), 0u);
}

// Last of the suite: the folder window that "open" shows stays in Wine's desktop and
// disturbs the message boxes of later runs.
TEST(DialogTest, FolderNamedSetupExeCountsAsTheSetupProgram) {
    TempDir dir("gui-setupdir");
    Installer inst(Fixture("gui-setupdir.cab"), dir.path());
    ASSERT_NE(inst.Dialog(), nullptr);
    inst.Press(IDC_EXTRACT);
    EXPECT_EQ(inst.WaitExit(), 0u);
    EXPECT_TRUE(PathExists(dir / "Extract\\Setup.exe\\inside.txt"));
    EXPECT_TRUE(Launches(dir / "Extract", 0).empty()); // StdSetup.exe is not considered
    // "open" on the folder started a folder window in a process of its own; end that process,
    // or its window disturbs the message boxes of the tests that follow.
    DWORD desktopPid = 0;
    GetWindowThreadProcessId(GetDesktopWindow(), &desktopPid);
    for (int i = 0; i < 300; ++i) {
        HWND folder = FindWindowW(nullptr, L"Setup.exe");
        DWORD pid = 0;
        if (folder && GetWindowThreadProcessId(folder, &pid) && pid != desktopPid) {
            HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
            if (process) {
                TerminateProcess(process, 0);
                WaitForSingleObject(process, 5000);
                CloseHandle(process);
            }
            break;
        }
        Sleep(10);
    }
}

// A run with switches, ended by itself: its 32-bit exit code, and the log it asked for.
struct SwitchRun {
    DWORD code;
    std::string log;
};

SwitchRun RunWithSwitches(const std::string& cab, const std::string& workDir,
                          const std::wstring& args) {
    Installer inst(cab, workDir, "", L"/log=run.log " + args);
    SwitchRun run;
    run.code = inst.WaitExit(60000);
    run.log = PathExists(workDir + "\\run.log") ? ReadBytes(workDir + "\\run.log") : "";
    return run;
}

// Quiet runs: no window, no box; the setup program waited for and its code returned; every
// failure ends by itself with its code and nothing written.
TEST(SwitchTest, QuietRunsEndByThemselvesWithTheirCode) {
    std::string corrupt = Fixture("gui-nosetup.cab");
    const size_t firstBlock =
        static_cast<unsigned char>(corrupt[36]) | static_cast<unsigned char>(corrupt[37]) << 8;
    corrupt[firstBlock + 8] = 'X'; // the MSZIP block signature
    CabEntry device;
    device.name = "sub\\NUL.txt";
    device.data = "device";
    CabLink toPart2;
    toPart2.next = "pkg-2.cab";
    CabEntry first;
    first.name = "first.txt";
    first.data = "first";
    const struct {
        const char* what;
        std::string cab;
        std::wstring args;
        DWORD code;
        const char* written; // a file the run leaves under Extract, or null for no file
        size_t launches;
        const char* logged;
    } cases[] = {
        {"setup's own code", Fixture("gui-setup.cab"), L"/quiet -- /exit=3010 \"a b\"", 3010,
         "readme.txt", 1, "setup program exit code: 3010"},
        {"a 32-bit code", Fixture("gui-setup.cab"), L"/QUIET -- /exit=3221225477", 3221225477u,
         "readme.txt", 1, "exit code 3221225477: the setup program's own code"},
        {"extract only", Fixture("gui-setup.cab"), L"-quiet /extract-only", 0, "readme.txt", 0,
         "exit code 0: success"},
        {"no setup program", Fixture("gui-nosetup.cab"), L"/quiet", 0, "readme.txt", 0,
         "setup program: none in the package"},
        {"a setup program that cannot start", Fixture("gui-badsetup.cab"), L"/quiet",
         ERROR_BAD_EXE_FORMAT, "readme.txt", 0, "exit code 193: the setup program cannot start"},
        {"damaged", corrupt, L"/quiet", 13, nullptr, 0,
         "exit code 13: damaged or incomplete installer"},
        {"a name Windows cannot hold", WriteCab({device}), L"/passive", 123, nullptr, 0,
         "exit code 123: a name that cannot be written on Windows"},
        {"a later cabinet missing", WriteCab({first}, toPart2), L"/quiet", 2, nullptr, 0,
         "error: Cabinet file (or part of splitted CAB) not found: pkg-2.cab"},
        {"unknown switch", Fixture("gui-setup.cab"), L"/quiet /bogus", 87, nullptr, 0,
         "refused switch: /bogus"},
        {"a value where none is taken", Fixture("gui-setup.cab"), L"/quiet /extract-only=1", 87,
         nullptr, 0, "exit code 87: bad command line"},
    };
    for (const auto& c : cases) {
        TempDir dir("switch");
        const SwitchRun run = RunWithSwitches(c.cab, dir.path(), c.args);
        EXPECT_EQ(run.code, c.code) << c.what << "\n" << run.log;
        EXPECT_NE(run.log.find(c.logged), std::string::npos) << c.what << "\n" << run.log;
        if (c.written) {
            EXPECT_TRUE(PathExists(dir / "Extract\\" + c.written)) << c.what;
        } else if (PathExists(dir / "Extract")) {
            EXPECT_TRUE(ListTree(dir / "Extract").empty()) << c.what;
        }
        EXPECT_EQ(Launches(dir / "Extract", c.launches).size(), c.launches) << c.what;
    }
}

// A file held by another program is tried again every 2 s for 30 s, then the run ends with
// 32, having written nothing; a full volume ends with 112.
TEST(SwitchTest, HeldFileAndFullVolumeEndWithTheirCodes) {
    TempDir dir("switch-held");
    const std::string out = dir / "Extract";
    CreateDirectoryA(out.c_str(), nullptr);
    WriteBytes(out + "\\readme.txt", "held");
    HANDLE held = CreateFileA((out + "\\readme.txt").c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const DWORD start = GetTickCount();
    const SwitchRun run = RunWithSwitches(Fixture("gui-setup.cab"), dir.path(), L"/quiet");
    const DWORD took = GetTickCount() - start;
    CloseHandle(held);
    EXPECT_EQ(run.code, 32u) << run.log;
    EXPECT_GE(took, 28000u);
    EXPECT_EQ(ReadBytes(out + "\\readme.txt"), "held");
    EXPECT_FALSE(PathExists(out + "\\Setup.exe"));

    const std::string root = SmallVolume();
    if (root.empty())
        GTEST_SKIP() << "no small file system: mounting needs root";
    const SwitchRun full = RunWithSwitches(Fixture("gui-slow.cab"), dir.path(),
                                           L"/quiet /dest=" + Wide(root + "\\full"));
    EXPECT_EQ(full.code, 112u) << full.log;
    EXPECT_FALSE(PathExists(root + "\\full"));
}

TEST(SwitchTest, QuietRunShowsNoWindowAndPassesTheArgumentsOn) {
    TempDir dir("switch-quiet");
    Installer inst(Fixture("gui-slow.cab"), dir.path(), "",
                   L"/quiet /dest=%TEMP%\\..\\orvanta-quiet -- /x \"two words\"");
    char temp[MAX_PATH] = {};
    ASSERT_GT(GetEnvironmentVariableA("TEMP", temp, MAX_PATH), 0u);
    const std::string out = std::string(temp) + "\\..\\orvanta-quiet";
    int windows = 0;
    while (inst.Running()) {
        windows += inst.VisibleWindows();
        Sleep(20);
    }
    EXPECT_EQ(inst.WaitExit(), 0u);
    EXPECT_EQ(windows, 0);
    EXPECT_TRUE(PathExists(out + "\\02-large.bin"));
    const std::string args = ReadBytes(out + "\\args.txt");
    EXPECT_NE(args.find("/x \"two words\""), std::string::npos) << args;
    RemoveTree(out);
}

TEST(SwitchTest, PassiveRunGoesByItselfAndAnnulerEndsWith1602) {
    {
        TempDir dir("switch-passive");
        Installer inst(Fixture("gui-setup.cab"), dir.path(), "", L"/passive -- /exit=7");
        EXPECT_EQ(inst.WaitExit(), 7u);
        EXPECT_EQ(Launches(dir / "Extract", 1).size(), 1u);
    }
    {
        TempDir dir("switch-passive-cancel");
        Installer inst(Fixture("gui-slow.cab"), dir.path(), "", L"/passive");
        ASSERT_NE(inst.Dialog(), nullptr);
        ASSERT_TRUE(inst.WaitProgress(L"Extraction : 02-large.bin"));
        inst.Press(IDCANCEL); // no question in a passive run
        EXPECT_EQ(inst.WaitExit(), 1602u);
        EXPECT_TRUE(Launches(dir / "Extract", 0).empty());
    }
}

TEST(SwitchTest, BadSwitchAndHelpAreSaidInABox) {
    {
        TempDir dir("switch-bad");
        Installer inst(Fixture("gui-setup.cab"), dir.path(), "", L"/nope");
        HWND box = inst.WaitWindow(L"" DIALOG_TITLE);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(WindowText(GetDlgItem(box, 0xFFFF)).rfind(L"Option incorrecte : /nope", 0), 0u);
        AnswerBox(box, IDOK);
        EXPECT_EQ(inst.WaitExit(), 87u);
        EXPECT_FALSE(PathExists(dir / "Extract"));
    }
    {
        TempDir dir("switch-help");
        Installer inst(Fixture("gui-setup.cab"), dir.path(), "", L"/?");
        HWND box = inst.WaitWindow(L"" DIALOG_TITLE);
        ASSERT_NE(box, nullptr);
        const std::wstring text = WindowText(GetDlgItem(box, 0xFFFF));
        EXPECT_NE(text.find(L"/quiet"), std::wstring::npos);
        EXPECT_NE(text.find(L"1602"), std::wstring::npos);
        AnswerBox(box, IDOK);
        EXPECT_EQ(inst.WaitExit(), 0u);
    }
}

TEST(SwitchTest, ImpossibleLogOrDestinationEndsWithItsCode) {
    TempDir dir("switch-impossible");
    WriteBytes(dir / "a-file", "x");
    {
        Installer inst(Fixture("gui-setup.cab"), dir.path(), "",
                       L"/quiet /log=" + Wide(dir / "a-file\\run.log"));
        EXPECT_EQ(inst.WaitExit(), 1603u);
    }
    const SwitchRun run = RunWithSwitches(Fixture("gui-setup.cab"), dir.path(),
                                          L"/quiet /dest=" + Wide(dir / "a-file\\sub"));
    EXPECT_EQ(run.code, 3u) << run.log;
    EXPECT_NE(run.log.find("exit code 3: the destination cannot be created"), std::string::npos)
        << run.log;
}

} // namespace
