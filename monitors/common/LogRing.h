#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

// One monitor log: a ring of ten files "<folder>/Log/<prefix><n>.log", n 0..9, written as text.
// A file is emptied when it is (re)opened; when a line would take it past the size limit the
// next file of the ring takes over behind a new header, and after file 9 comes file 0 again.
// Lines may be appended and written together: a busy monitor makes one write for all the lines
// of one read of its socket instead of one for each.
class LogRing {
public:
    static constexpr int kFiles = 10;
    static constexpr long kSizeLimit = 10485760;
    // Appended lines are written at once when they reach this much.
    static constexpr std::size_t kHoldLimit = 256 * 1024;

    struct Texts {
        // Header written at each open: (path, time text) -> line.
        std::function<std::string(const std::string&, const std::string&)> header;
        // Closing line: (time text) -> line.
        std::function<std::string(const std::string&)> closing;
        // Debugger text when the next file of the ring cannot be opened: (reason) -> text.
        std::function<std::string(const std::string&)> rotateFailed;
    };
    enum class WriteResult { Written, NotOpen, RotateFailed };

    LogRing(std::string prefix, Texts texts, long sizeLimit = kSizeLimit);
    ~LogRing();
    LogRing(const LogRing&) = delete;
    LogRing& operator=(const LogRing&) = delete;

    // Opens a file of the ring in `installedPath`/Log (made when missing): the first of 0..9 that
    // does not exist, else the one written longest ago, so the records of an earlier run are kept.
    bool Open(const std::string& installedPath, const std::string& timeText);
    // Writes what is held, then the closing line.
    void Close(const std::string& timeText);
    // Writes the line, first moving on to the next file when it would not fit; `timeText` goes
    // into the new file's header.
    WriteResult Write(const std::string& line, const std::string& timeText);
    // The same, but the line is held until Flush() (or until kHoldLimit bytes are held); a move
    // to the next file writes what is held into the file it leaves first.
    WriteResult Append(std::string_view line, const std::string& timeText);
    // Writes what is held with one write.
    void Flush();

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
    long m_size = 0; // of the open file, held lines included
    std::string m_held;
    int m_index = 0;
    std::string m_path;
    std::string m_error;
};
