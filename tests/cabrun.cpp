#include "cabrun.h"

#include <cstdlib>
#include <sstream>

#include "test_util.h"

static std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::string::size_type start = 0, tab;
    while ((tab = line.find('\t', start)) != std::string::npos) {
        fields.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
    fields.push_back(line.substr(start));
    return fields;
}

CabRunResult RunCab(const std::string& cab, const std::string& workDir, const std::string& dest,
                    const std::string& args) {
    return RunCabFrom(cab, workDir, workDir, dest, args);
}

CabRunResult RunCabFrom(const std::string& cab, const std::string& exeDir,
                        const std::string& workDir, const std::string& dest,
                        const std::string& args) {
    const std::string exe = exeDir + "\\run.exe";
    WriteBytes(exe, ReadBytes(ExeDir() + "\\cabrun.exe") + cab);
    // A trailing backslash would escape the closing quote.
    const std::string quoted = !dest.empty() && dest.back() == '\\' ? dest + "\\" : dest;
    ProcessResult p = RunProcess("\"" + exe + "\" \"" + quoted + "\" " + args, workDir);
    CabRunResult r;
    r.raw = p.output;
    std::istringstream lines(p.output);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::vector<std::string> f = SplitTabs(line);
        if (f[0] == "progress" && f.size() == 7) {
            ProgressLine pl{f[1],
                            f[2],
                            f[3],
                            f[4],
                            std::stol(f[5]),
                            static_cast<unsigned>(std::stoul(f[6], nullptr, 16))};
            r.progress.push_back(pl);
        } else if (f[0] == "held" && f.size() == 3) {
            r.heldKiB[0] = atol(f[1].c_str());
            r.heldKiB[1] = atol(f[2].c_str());
        } else if (f[0] == "lanes" && f.size() == 2) {
            r.lanes = atoi(f[1].c_str());
        } else if (f[0] == "load" && f.size() == 3) {
            r.loads = f[1] + " " + f[2];
        } else if (f[0] == "result" && f.size() == 4) {
            r.finished = true;
            r.ok = std::stoi(f[1]);
            r.code = std::stoi(f[2]);
            r.message = f[3];
        }
    }
    return r;
}
