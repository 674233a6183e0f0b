#include "folder_scan.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cab_reader.h"
#include "payload_rules.h"

// True when any byte of s is outside ASCII: such names are stored as UTF-8 and flagged.
static bool HasNonAscii(const std::string& s) {
    for (char c : s) {
        if (static_cast<uint8_t>(c) >= 0x80)
            return true;
    }
    return false;
}

// The sorted entry names of the folder at path, without "." and "..". False with a problem
// appended when it cannot be read.
static bool ListFolder(const std::string& path, std::vector<std::string>* names,
                       std::vector<std::string>* problems) {
    DIR* d = opendir(path.c_str());
    if (!d) {
        problems->push_back("cannot read folder " + path + ": " + strerror(errno));
        return false;
    }
    errno = 0;
    while (struct dirent* e = readdir(d)) {
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
            names->push_back(e->d_name);
    }
    const int readError = errno;
    closedir(d);
    if (readError) {
        problems->push_back("cannot read folder " + path + ": " + strerror(readError));
        return false;
    }
    std::sort(names->begin(), names->end());
    return true;
}

// Adds the regular file at path, archived as name, after checking the name and that it can
// be read.
static void AddFile(const std::string& path, const std::string& name, const struct stat& st,
                    std::vector<SourceFile>* files, std::vector<std::string>* problems) {
    const std::string problem = NameProblem(name, HasNonAscii(name) ? kAttrNameIsUtf8 : 0);
    if (!problem.empty()) {
        problems->push_back(problem);
        return;
    }
    if (access(path.c_str(), R_OK) != 0) {
        problems->push_back("cannot read " + path + ": " + strerror(errno));
        return;
    }
    SourceFile f;
    f.path = path;
    f.name = name;
    f.size = static_cast<uint64_t>(st.st_size);
    f.mtime = static_cast<int64_t>(st.st_mtime);
    f.readOnly = (st.st_mode & S_IWUSR) == 0;
    files->push_back(f);
}

// The identities of the folders being walked, outermost first: a symbolic link back to one
// of them would repeat the tree forever.
using FolderChain = std::vector<std::pair<dev_t, ino_t>>;

// True when st is one of the folders in chain.
static bool InChain(const FolderChain& chain, const struct stat& st) {
    for (const auto& id : chain) {
        if (id.first == st.st_dev && id.second == st.st_ino)
            return true;
    }
    return false;
}

// Walks the folder at path, archived under prefix ("" or ending in '\'), inside the folders
// of chain. Names longer than the stub takes are refused before descending.
static void Walk(const std::string& path, const std::string& prefix, FolderChain* chain,
                 std::vector<SourceFile>* files, std::vector<std::string>* problems) {
    std::vector<std::string> names;
    if (!ListFolder(path, &names, problems))
        return;
    for (const std::string& entry : names) {
        const std::string child = path + "/" + entry;
        const std::string name = prefix + entry;
        if (entry.find('\\') != std::string::npos) {
            problems->push_back("name " + QuoteName(name) +
                                ": '\\' would be read as a folder separator on Windows");
            continue;
        }
        struct stat st;
        if (stat(child.c_str(), &st) != 0) {
            problems->push_back("cannot read " + child + ": " + strerror(errno));
        } else if (S_ISREG(st.st_mode)) {
            AddFile(child, name, st, files, problems);
        } else if (!S_ISDIR(st.st_mode)) {
            problems->push_back(child + ": neither a regular file nor a folder");
        } else if (InChain(*chain, st)) {
            problems->push_back(child + ": a symbolic link loops back to a containing folder");
        } else if (name.size() + 1 >= kMaxNameBytes) {
            problems->push_back("name " + QuoteName(name) + "\\...: over " +
                                std::to_string(kMaxNameBytes) + " bytes");
        } else {
            chain->push_back({st.st_dev, st.st_ino});
            Walk(child, name + "\\", chain, files, problems);
            chain->pop_back();
        }
    }
}

bool ScanFolder(const std::string& dir, std::vector<SourceFile>* files,
                std::vector<std::string>* problems) {
    const size_t before = problems->size();
    files->clear();
    FolderChain chain;
    struct stat st;
    if (stat(dir.c_str(), &st) == 0)
        chain.push_back({st.st_dev, st.st_ino});
    Walk(dir, "", &chain, files, problems);
    // Backslash sorts differently from '/', so order by the archived names themselves.
    std::sort(files->begin(), files->end(),
              [](const SourceFile& a, const SourceFile& b) { return a.name < b.name; });
    if (files->size() > kMaxCabFiles)
        problems->push_back(std::to_string(files->size()) + " files: a cabinet holds at most " +
                            std::to_string(kMaxCabFiles));
    if (files->empty() && problems->size() == before)
        problems->push_back("no files in " + dir);
    return problems->size() == before;
}
