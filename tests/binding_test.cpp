// Binding the platform cabinet library and reporting its errors.
#include <gtest/gtest.h>

#include <string>

#include "binding.h"
#include "cabrun.h"
#include "driver.h"
#include "test_util.h"

namespace {

struct SeamReset {
    ~SeamReset() { g_cabinetLibraryOverride = nullptr; }
};

TEST(BindingTest, EveryCodeHasItsText) {
    struct Case {
        int code;
        const char* text;
    } cases[] = {
        {0, "No error"},
        {1, "Cabinet file (or part of splitted CAB) not found"},
        {2, "Not a cabinet"},
        {3, "Unknown cabinet version"},
        {4, "Corrupt cabinet"},
        {5, "Memory allocation failed"},
        {6, "Unknown compression type"},
        {7, "Failure decompressing data"},
        {8, "Failure writing to target file"},
        {9, "Cabinets in set have different RESERVE sizes"},
        {10, "Cabinet returned on fdintNEXT_CABINET is incorrect"},
        {11, "User aborted"},
        {12, "Unknown error"},
        {-1, "Unknown error"},
        {999, "Unknown error"},
        {1000, "Could not load Cabinet.dll"},
        {1001, "Programme d'installation incomplet ou endommagé : téléchargez-le à nouveau."},
        {1002, "Nom de fichier impossible à écrire sous Windows"},
        {1003, "Espace disque insuffisant"},
        {1004, "Fichier utilisé par un autre programme"},
        {1005, "Unknown error"},
    };
    for (const Case& c : cases) {
        CabExtractor ex(nullptr);
        ex.erf.erfOper = c.code;
        ex.erf.fError = TRUE;
        const char* message = nullptr;
        EXPECT_EQ(GetCabErrorMessage(&ex, &message), c.code);
        EXPECT_STREQ(message, c.text) << c.code;
    }
}

TEST(BindingTest, PendingErrorOverridesTheLibrarysCode) {
    struct Case {
        BOOL fError;
        bool wantMessage;
        int expectedResult;
    } cases[] = {{TRUE, true, 8}, {TRUE, false, 8}, {FALSE, true, 0}, {FALSE, false, 0}};
    for (const Case& c : cases) {
        CabExtractor ex(nullptr);
        ex.erf.erfOper = FDIERROR_USER_ABORT;
        ex.erf.erfType = 1234;
        ex.erf.fError = c.fError;
        ex.pendingError = FDIERROR_TARGET_FILE;
        const char* message = "sentinel";
        EXPECT_EQ(GetCabErrorMessage(&ex, c.wantMessage ? &message : nullptr), c.expectedResult);
        EXPECT_STREQ(message, c.wantMessage ? "Failure writing to target file" : "sentinel");
        EXPECT_EQ(ex.erf.erfOper, FDIERROR_TARGET_FILE); // the override stays
        EXPECT_EQ(ex.erf.fError, c.fError);
        EXPECT_EQ(ex.erf.erfType, 1234);
    }
}

TEST(BindingTest, NewExtractorStartsUnboundWithoutError) {
    HWND sentinel = reinterpret_cast<HWND>(0x1234);
    CabExtractor ex(sentinel);
    EXPECT_EQ(ex.hfdi, nullptr);
    EXPECT_EQ(ex.hCabinetDll, nullptr);
    EXPECT_EQ(ex.erf.fError, FALSE);
    EXPECT_EQ(ex.pendingError, 0);
    EXPECT_EQ(ex.hwndNotify, sentinel);
    EXPECT_EQ(GetCabErrorMessage(&ex, nullptr), 0);
}

TEST(BindingTest, BindsThePlatformLibraryOnceAndKeepsTheContext) {
    CabExtractor ex(nullptr);
    ex.pendingError = 5;
    ASSERT_TRUE(LoadCabinetLibrary(&ex));
    EXPECT_EQ(ex.pendingError, 0);
    EXPECT_NE(ex.hCabinetDll, nullptr);
    HFDI context = ex.hfdi;
    ASSERT_NE(context, nullptr);
    ex.pendingError = 9;
    EXPECT_FALSE(LoadCabinetLibrary(&ex));
    EXPECT_EQ(ex.pendingError, 0);
    EXPECT_EQ(ex.hfdi, context);
    ReleaseCabinetLibrary(&ex);
    EXPECT_EQ(ex.hfdi, nullptr);
    ReleaseCabinetLibrary(&ex); // the destructor releases again: must be harmless
}

TEST(BindingTest, MissingLibraryOrEntryPointIsCode1000) {
    SeamReset reset;
    const std::string dir = ExeDir();
    const std::string libraries[] = {
        "C:\\no\\such\\Cabinet.dll",      dir + "\\partial_FDICreate.dll",
        dir + "\\partial_FDICopy.dll",    dir + "\\partial_FDIIsCabinet.dll",
        dir + "\\partial_FDIDestroy.dll",
    };
    for (const std::string& library : libraries) {
        g_cabinetLibraryOverride = library.c_str();
        CabExtractor ex(nullptr);
        ex.erf.erfType = 4321;
        EXPECT_FALSE(LoadCabinetLibrary(&ex)) << library;
        EXPECT_EQ(ex.hCabinetDll, nullptr);
        EXPECT_EQ(ex.hfdi, nullptr);
        EXPECT_EQ(ex.erf.erfType, 4321);
        const char* message = nullptr;
        EXPECT_EQ(GetCabErrorMessage(&ex, &message), CAB_ERROR_NO_LIBRARY) << library;
        EXPECT_STREQ(message, "Could not load Cabinet.dll");
        EXPECT_FALSE(ExtractAll(&ex, "C:\\ot\\never"));
        EXPECT_FALSE(PathExists("C:\\ot\\never"));
    }
}

TEST(BindingTest, FailedContextCreationReportsTheLibrarysCode) {
    SeamReset reset;
    const std::string library = ExeDir() + "\\planted_cabinet.dll";
    g_cabinetLibraryOverride = library.c_str();
    CabExtractor ex(nullptr);
    EXPECT_FALSE(LoadCabinetLibrary(&ex));
    EXPECT_NE(ex.hCabinetDll, nullptr); // bound, without a context
    EXPECT_EQ(ex.hfdi, nullptr);
    const char* message = nullptr;
    EXPECT_EQ(GetCabErrorMessage(&ex, &message), 7);
    EXPECT_STREQ(message, "Failure decompressing data");
}

// A context the library refuses to destroy is still forgotten with the library: a second
// release must not call into code already unloaded.
TEST(BindingTest, ReleaseTwiceAfterAFailedDestroyIsHarmless) {
    SeamReset reset;
    const std::string library = ExeDir() + "\\keeps_context.dll";
    g_cabinetLibraryOverride = library.c_str();
    CabExtractor ex(nullptr);
    ASSERT_TRUE(LoadCabinetLibrary(&ex));
    ReleaseCabinetLibrary(&ex);
    EXPECT_EQ(ex.hfdi, nullptr);
    EXPECT_EQ(ex.hCabinetDll, nullptr);
    ReleaseCabinetLibrary(&ex); // the destructor releases a third time
}

// Wine reads WINEDLLOVERRIDES from the Unix environment only, so hiding the platform library
// and planting one beside the program are tested by CTest directly (tests/CMakeLists.txt).

TEST(BindingTest, SecondLoadOnABoundExtractorChangesNothing) {
    TempDir dir("twice");
    CabRunResult r = RunCab(ReadBytes(ExeDir() + "\\fixtures\\tree.cab"), dir.path(), dir / "out",
                            "--load-twice");
    ASSERT_TRUE(r.finished) << r.raw;
    EXPECT_EQ(r.loads, "1 0");
    EXPECT_EQ(r.ok, 1);
    EXPECT_EQ(r.progress.size(), 4u);
}

} // namespace
