// Runs the cabrun helper on a cabinet appended to a copy of it, and parses what it printed.
#pragma once

#include <string>
#include <vector>

struct ProgressLine {
    std::string fileName, archiveDir, outputDir, outputPath;
    long size = 0;
    unsigned attributes = 0;
};

struct CabRunResult {
    bool finished = false; // the helper printed its result line
    int ok = -1;
    int code = -1;
    std::string message;
    std::vector<ProgressLine> progress;
    std::string loads; // "first second" with --load-twice
    int lanes = 0;     // lanes the extraction ran on
    long heldKiB[2] = {-1, -1}; // with --hold-at: KiB written 100 ms and 500 ms into the hold
    std::string raw;
};

// Writes cabrun.exe + cab as workDir\run.exe and runs "run.exe dest args" in workDir.
// dest "-" stands for a null destination.
CabRunResult RunCab(const std::string& cab, const std::string& workDir, const std::string& dest,
                    const std::string& args = "");

// The same with run.exe written into exeDir, started from workDir.
CabRunResult RunCabFrom(const std::string& cab, const std::string& exeDir,
                        const std::string& workDir, const std::string& dest,
                        const std::string& args = "");
