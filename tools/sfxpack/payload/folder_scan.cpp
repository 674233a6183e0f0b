#include "payload/folder_scan.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

#include "cab/cab_reader.h"
#include "payload/payload_rules.h"

// A folder's identity: symbolic links may reach it by several paths.
using FolderId = std::pair<dev_t, ino_t>;

// One folder walk: what it found, and what bounds it.
struct WalkState {
    std::vector<SourceFile>* files;
    Problems* problems;
    size_t problemsBefore = 0;
    std::vector<FolderId> chain;               // the folders being walked, outermost first
    std::map<FolderId, std::string> firstPath; // every folder walked, by the path it had
    size_t entries = 0;                        // folder entries read so far
    bool stopped = false;
};

// True when any byte of s is outside ASCII: such names are stored as UTF-8 and flagged.
static bool HasNonAscii(const std::string& s) {
    for (char c : s) {
        if (static_cast<uint8_t>(c) >= 0x80)
            return true;
    }
    return false;
}

// Appends problem and stops the walk once too many have been found.
static void AddProblem(WalkState* w, const std::string& problem) {
    Fail(w->problems, problem);
    if (w->problems->errors.size() - w->problemsBefore >= kMaxScanProblems) {
        Fail(w->problems, "stopped after " + std::to_string(kMaxScanProblems) + " problems");
        w->stopped = true;
    }
}

// The sorted entry names of the folder at path, without "." and "..". False with a problem
// appended when it cannot be read or holds more entries than the walk may still read.
static bool ListFolder(WalkState* w, const std::string& path, std::vector<std::string>* names) {
    DIR* d = opendir(path.c_str());
    if (!d) {
        AddProblem(w, "cannot read folder " + path + ": " + strerror(errno));
        return false;
    }
    errno = 0;
    while (struct dirent* e = readdir(d)) {
        if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0)
            continue;
        if (++w->entries > kMaxWalkEntries)
            break;
        names->push_back(e->d_name);
    }
    const int readError = errno;
    closedir(d);
    if (w->entries > kMaxWalkEntries) {
        AddProblem(w, "more than " + std::to_string(kMaxWalkEntries) +
                          " files and folders: a cabinet holds at most " +
                          std::to_string(kMaxCabFiles) + " files");
        w->stopped = true;
        return false;
    }
    if (readError) {
        AddProblem(w, "cannot read folder " + path + ": " + strerror(readError));
        return false;
    }
    std::sort(names->begin(), names->end());
    return true;
}

// Adds the regular file at path, archived as name, after checking the name and that it can
// be read. Stops the walk once the files are more than a cabinet holds.
static void AddFile(WalkState* w, const std::string& path, const std::string& name,
                    const struct stat& st) {
    Problems refused;
    if (!CheckName(name, HasNonAscii(name) ? kAttrNameIsUtf8 : 0, &refused)) {
        AddProblem(w, refused.errors.front());
        return;
    }
    if (access(path.c_str(), R_OK) != 0) {
        AddProblem(w, "cannot read " + path + ": " + strerror(errno));
        return;
    }
    if (w->files->size() == kMaxCabFiles) {
        AddProblem(w, "more than " + std::to_string(kMaxCabFiles) +
                          " files: a cabinet holds at most " + std::to_string(kMaxCabFiles));
        w->stopped = true;
        return;
    }
    SourceFile f;
    f.path = path;
    f.name = name;
    f.size = static_cast<uint64_t>(st.st_size);
    f.mtime = static_cast<int64_t>(st.st_mtim.tv_sec);
    f.mtimeNanos = st.st_mtim.tv_nsec;
    f.device = static_cast<uint64_t>(st.st_dev);
    f.inode = static_cast<uint64_t>(st.st_ino);
    f.readOnly = (st.st_mode & S_IWUSR) == 0;
    w->files->push_back(f);
}

// Walks the folder at path, archived under prefix ("" or ending in '\'). Names longer than
// a cabinet holds are refused before descending.
static void Walk(WalkState* w, const std::string& path, const std::string& prefix) {
    std::vector<std::string> names;
    if (!ListFolder(w, path, &names))
        return;
    for (size_t i = 0; i < names.size() && !w->stopped; ++i) {
        const std::string child = path + "/" + names[i];
        const std::string name = prefix + names[i];
        struct stat st;
        if (names[i].find('\\') != std::string::npos) {
            AddProblem(w, "name " + QuoteName(name) +
                              ": '\\' would be read as a folder separator on Windows");
        } else if (stat(child.c_str(), &st) != 0) {
            AddProblem(w, "cannot read " + child + ": " + strerror(errno));
        } else if (S_ISREG(st.st_mode)) {
            AddFile(w, child, name, st);
        } else if (!S_ISDIR(st.st_mode)) {
            AddProblem(w, child + ": neither a regular file nor a folder");
        } else if (std::find(w->chain.begin(), w->chain.end(), FolderId(st.st_dev, st.st_ino)) !=
                   w->chain.end()) {
            AddProblem(w, child + ": a symbolic link loops back to a containing folder");
        } else if (!w->firstPath.emplace(FolderId(st.st_dev, st.st_ino), child).second) {
            AddProblem(w, child + ": the same folder as " +
                              w->firstPath[FolderId(st.st_dev, st.st_ino)] +
                              " (symbolic links): a folder is archived once");
        } else if (name.size() + 1 >= kMaxNameBytes) {
            AddProblem(w, "name " + QuoteName(name) + "\\...: over " +
                              std::to_string(kMaxNameBytes) + " bytes");
        } else {
            w->chain.push_back(FolderId(st.st_dev, st.st_ino));
            Walk(w, child, name + "\\");
            w->chain.pop_back();
        }
    }
}

bool ScanFolder(const std::string& dir, std::vector<SourceFile>* files, Problems* problems) {
    files->clear();
    WalkState w;
    w.files = files;
    w.problems = problems;
    w.problemsBefore = problems->errors.size();
    struct stat st;
    if (stat(dir.c_str(), &st) == 0) {
        w.chain.push_back(FolderId(st.st_dev, st.st_ino));
        w.firstPath.emplace(FolderId(st.st_dev, st.st_ino), dir);
    }
    Walk(&w, dir, "");
    // Backslash sorts differently from '/', so order by the archived names themselves.
    std::sort(files->begin(), files->end(),
              [](const SourceFile& a, const SourceFile& b) { return a.name < b.name; });
    if (!w.stopped) {
        std::vector<std::pair<std::string, bool>> names;
        for (const SourceFile& f : *files)
            names.emplace_back(f.name, HasNonAscii(f.name));
        CheckNameClashes(names, problems);
    }
    if (files->empty() && problems->errors.size() == w.problemsBefore)
        Fail(problems, "no files in " + dir);
    return problems->errors.size() == w.problemsBefore;
}
