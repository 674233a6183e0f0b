#include "command_line.h"

#include <cstdlib>
#include <cwchar>

namespace {

// The letter folded to lower case, for ASCII only: the switches' names are ASCII.
wchar_t Lower(wchar_t c) {
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + (L'a' - L'A')) : c;
}

// True when arg names the switch name ("/name" or "-name", any case); *value gets what follows
// "=" (null when there is none).
bool IsSwitch(const wchar_t* arg, const wchar_t* name, const wchar_t** value) {
    if (arg[0] != L'/' && arg[0] != L'-')
        return false;
    size_t i = 0;
    for (; name[i]; ++i) {
        if (Lower(arg[1 + i]) != name[i])
            return false;
    }
    const wchar_t next = arg[1 + i];
    if (next != L'\0' && next != L'=')
        return false;
    *value = next == L'=' ? arg + 2 + i : nullptr;
    return true;
}

wchar_t* Copy(const wchar_t* text) {
    const size_t n = wcslen(text) + 1;
    wchar_t* copy = static_cast<wchar_t*>(malloc(n * sizeof(wchar_t)));
    if (copy)
        wmemcpy(copy, text, n);
    return copy;
}

// Appends arg to out at *at, quoted as CommandLineToArgvW reads it back; with out null, only
// counts. Backslashes are doubled only before a quote or the closing quote.
void AppendQuoted(const wchar_t* arg, wchar_t* out, size_t* at) {
    const bool quote = arg[0] == L'\0' || wcspbrk(arg, L" \t\"") != nullptr;
    auto put = [&](wchar_t c) {
        if (out)
            out[*at] = c;
        ++*at;
    };
    if (quote)
        put(L'"');
    size_t backslashes = 0;
    for (const wchar_t* p = arg;; ++p) {
        if (*p == L'\\') {
            ++backslashes;
            continue;
        }
        const bool end = *p == L'\0';
        // Before a quote, or before the closing quote, each backslash is written twice.
        const size_t times = (*p == L'"' || (end && quote)) ? 2 * backslashes : backslashes;
        for (size_t i = 0; i < times; ++i)
            put(L'\\');
        backslashes = 0;
        if (end)
            break;
        if (*p == L'"')
            put(L'\\');
        put(*p);
    }
    if (quote)
        put(L'"');
}

} // namespace

wchar_t* JoinArguments(const wchar_t* const* args, int count) {
    size_t size = 1;
    for (int i = 0; i < count; ++i) {
        AppendQuoted(args[i], nullptr, &size);
        ++size; // the space after it
    }
    wchar_t* line = static_cast<wchar_t*>(malloc(size * sizeof(wchar_t)));
    if (!line)
        return nullptr;
    size_t at = 0;
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            line[at++] = L' ';
        AppendQuoted(args[i], line, &at);
    }
    line[at] = L'\0';
    return line;
}

bool ParseRunOptions(const wchar_t* const* args, int count, RunOptions* options) {
    *options = RunOptions();
    for (int i = 0; i < count; ++i) {
        const wchar_t* arg = args[i];
        const wchar_t* value = nullptr;
        options->given = true;
        if (wcscmp(arg, L"--") == 0) {
            options->setupArgs = JoinArguments(args + i + 1, count - i - 1);
            return options->setupArgs != nullptr;
        }
        bool* flag = nullptr;
        wchar_t** text = nullptr;
        if (IsSwitch(arg, L"quiet", &value))
            flag = &options->quiet;
        else if (IsSwitch(arg, L"passive", &value))
            flag = &options->passive;
        else if (IsSwitch(arg, L"extract-only", &value))
            flag = &options->extractOnly;
        else if (IsSwitch(arg, L"?", &value))
            flag = &options->help;
        else if (IsSwitch(arg, L"dest", &value))
            text = &options->destination;
        else if (IsSwitch(arg, L"log", &value))
            text = &options->log;
        // A flag takes no value, a text needs one; none may come twice.
        const bool wellFormed = flag   ? !value && !*flag
                                : text ? value && value[0] && !*text
                                       : false;
        if (!wellFormed) {
            options->refused = Copy(arg);
            return false;
        }
        if (flag)
            *flag = true;
        else if (!(*text = Copy(value)))
            return false;
        if (options->quiet && options->passive) { // one way of running, not two
            options->refused = Copy(arg);
            return false;
        }
    }
    return true;
}

void FreeRunOptions(RunOptions* options) {
    free(options->destination);
    free(options->log);
    free(options->setupArgs);
    free(options->refused);
    *options = RunOptions();
}
