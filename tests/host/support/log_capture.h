// Points the module's log at a fresh temporary file and reads it back.
#pragma once

#include <string>
#include <vector>

namespace testhost {

class LogCapture {
public:
    LogCapture();   // kerbmark::logPath -> a new, empty temporary file name
    ~LogCapture();  // deletes the file and puts the previous path back
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const std::string& path() const { return path_; }
    bool exists() const;
    // The file's exact bytes ("" when it does not exist).
    std::string bytes() const;
    // The text split at CR LF; a last piece without CR LF is kept as it is, so
    // a wrong line end shows up in comparisons.
    std::vector<std::string> lines() const;
    // Empties the log (deletes the file).
    void clear();

private:
    std::string path_;
    std::string previous_;
};

}  // namespace testhost
