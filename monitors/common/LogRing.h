#pragma once

#include <cstdio>
#include <functional>
#include <string>

// One monitor log: a ring of ten files "<folder>/Log/<prefix><n>.log", n 0..9, written as text.
// A file is emptied when it is (re)opened; when a line would take it past the size limit the
// next file of the ring takes over behind a new header, and after file 9 comes file 0 again.
class LogRing {
public:
    static constexpr int kFiles = 10;
    static constexpr long kSizeLimit = 10485760;

    struct Texts {
        // Header written at each open: (path, time text) -> line.
        std::function<std::string(const std::string&, const std::string&)> header;
        // Closing line: (time text) -> line.
        std::function<std::string(const std::string&)> closing;
        // Debugger text when the next file of the ring cannot be opened: (reason) -> text.
        std::function<std::string(const std::string&)> rotateFailed;
    };
    enum class WriteResult { Written, NotOpen, SeekFailed, RotateFailed };

    LogRing(std::string prefix, Texts texts, long sizeLimit = kSizeLimit);
    ~LogRing();
    LogRing(const LogRing&) = delete;
    LogRing& operator=(const LogRing&) = delete;

    // Opens a file of the ring in `installedPath`/Log (made when missing): the first of 0..9 that
    // does not exist, else the one written longest ago, so the records of an earlier run are kept.
    bool Open(const std::string& installedPath, const std::string& timeText);
    void Close(const std::string& timeText);
    // Writes the line, first moving on to the next file when it would not fit; `timeText` goes
    // into the new file's header.
    WriteResult Write(const std::string& line, const std::string& timeText);

    bool IsOpen() const { return m_file != nullptr; }
    int Index() const { return m_index; }
    const std::string& Path() const { return m_path; }
    const std::string& ErrorText() const { return m_error; }

    std::string PathOf(int index) const;

private:
    bool OpenIndex(int index, const std::string& timeText);

    std::string m_prefix;
    Texts m_texts;
    long m_sizeLimit;
    std::string m_folder;
    std::FILE* m_file = nullptr;
    int m_index = 0;
    std::string m_path;
    std::string m_error;
};
