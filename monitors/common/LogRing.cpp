#include "LogRing.h"

#include <platform/DebugOutput.h>
#include <platform/SystemError.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>

namespace fs = std::filesystem;

LogRing::LogRing(std::string prefix, Texts texts, long sizeLimit)
    : m_prefix(std::move(prefix)), m_texts(std::move(texts)), m_sizeLimit(sizeLimit) {}

LogRing::~LogRing() {
    Flush();
    if (m_file != nullptr)
        std::fclose(m_file);
}

std::string LogRing::PathOf(int index) const {
    return m_folder + "/Log/" + m_prefix + std::to_string(index) + ".log";
}

bool LogRing::Open(const std::string& installedPath, const std::string& timeText) {
    if (m_file != nullptr)
        return true;
    m_folder = installedPath;
    std::error_code error;
    const std::string folder = m_folder + "/Log";
    fs::create_directories(folder, error);
    if (!fs::is_directory(folder, error)) {
        // The folder is at fault, not one file of it: say so.
        m_error = "the folder " + folder +
                  " cannot be used: " + platform::SystemErrorText(error ? error.value() : ENOTDIR);
        return false;
    }
    int chosen = -1;
    std::optional<fs::file_time_type> oldest;
    for (int i = 0; i < kFiles && chosen < 0; ++i) {
        const fs::path path = PathOf(i);
        if (!fs::exists(path, error)) {
            chosen = i;
            break;
        }
        const fs::file_time_type written = fs::last_write_time(path, error);
        if (!error && (!oldest || written < *oldest)) {
            oldest = written;
            m_index = i;
        }
    }
    return OpenIndex(chosen >= 0 ? chosen : m_index, timeText);
}

bool LogRing::OpenIndex(int index, const std::string& timeText) {
    m_index = index;
    m_path = PathOf(index);
    std::error_code ignored;
    fs::create_directories(m_folder + "/Log", ignored);
    // The records name callers and agents: the owner and the group read them, not every user.
    const int fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0640);
    if (fd < 0) {
        m_error = m_path + " cannot be written in the folder " + m_folder +
                  "/Log: " + platform::SystemErrorText(errno);
        return false;
    }
    // Others may read the log while it is written, but not write it; a file held by another copy
    // is not emptied under it either.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(fd, 0) != 0) {
        m_error = platform::SystemErrorText(errno);
        ::close(fd);
        return false;
    }
    std::FILE* file = ::fdopen(fd, "w");
    if (file == nullptr) {
        m_error = platform::SystemErrorText(errno);
        ::close(fd);
        return false;
    }
    m_file = file;
    const std::string header = m_texts.header(m_path, timeText);
    std::fwrite(header.data(), 1, header.size(), m_file);
    std::fflush(m_file);
    m_size = static_cast<long>(header.size());
    return true;
}

void LogRing::Close(const std::string& timeText) {
    if (m_file == nullptr)
        return;
    Flush();
    const std::string closing = m_texts.closing(timeText);
    std::fwrite(closing.data(), 1, closing.size(), m_file);
    std::fclose(m_file);
    m_file = nullptr;
}

LogRing::WriteResult LogRing::Write(const std::string& line, const std::string& timeText) {
    const WriteResult result = Append(line, timeText);
    Flush();
    return result;
}

LogRing::WriteResult LogRing::Append(std::string_view line, const std::string& timeText) {
    if (m_file == nullptr)
        return WriteResult::NotOpen;
    if (static_cast<long>(line.size()) + m_size > m_sizeLimit) {
        Flush();
        std::fclose(m_file);
        m_file = nullptr;
        if (!OpenIndex((m_index + 1) % kFiles, timeText)) {
            platform::DebugOutput(m_texts.rotateFailed(m_error));
            return WriteResult::RotateFailed;
        }
    }
    m_held.append(line);
    m_size += static_cast<long>(line.size());
    if (m_held.size() >= kHoldLimit)
        Flush();
    return WriteResult::Written;
}

void LogRing::Flush() {
    if (m_file != nullptr && !m_held.empty()) {
        std::fwrite(m_held.data(), 1, m_held.size(), m_file);
        std::fflush(m_file);
    }
    m_held.clear();
}
