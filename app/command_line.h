// The switches a person or a deployment tool starts the installer with. Pure logic: the
// arguments come split as CommandLineToArgvW splits them.
#pragma once

#include <cstddef>

// What the switches ask for. Without any, the run is the dialog's alone and ends with 0.
struct RunOptions {
    bool given = false;       // any switch: the setup program is waited for, its code returned
    bool quiet = false;       // /quiet: no window, no box
    bool passive = false;     // /passive: the dialog runs by itself, no question, no box
    bool extractOnly = false; // /extract-only: the setup program is not started
    bool help = false;        // /?
    wchar_t* destination = nullptr; // /dest=PATH, as given (heap)
    wchar_t* log = nullptr;         // /log=FILE, as given (heap)
    wchar_t* setupArgs = nullptr;   // everything after "--", quoted again (heap); null: no "--"
    wchar_t* refused = nullptr;     // the first switch refused, as given (heap)
};

// Reads args[0, count) (the program's name left out): switches are case-insensitive, "-name"
// is "/name", a lone "--" passes the rest to the setup program. False when a switch is unknown,
// malformed (a value missing or given where none is taken) or given twice, with
// options->refused naming it; false with refused null when no memory is left.
bool ParseRunOptions(const wchar_t* const* args, int count, RunOptions* options);

// Frees what options holds and resets it.
void FreeRunOptions(RunOptions* options);

// args[0, count) as one command line that CommandLineToArgvW splits back into the same
// arguments (quotes and backslashes as its rules want them); a heap block, null when no
// memory is left.
wchar_t* JoinArguments(const wchar_t* const* args, int count);
