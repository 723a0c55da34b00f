#include "tools/driver/OutsideTracer.h"

#include <cstdio>

#include "tools/driver/DriverScript.h"
#include "tools/driver/TracerSession.h"

namespace driver {

namespace {

std::string ErrorText(const char* what, const std::string& path)
{
    return std::string(what) + " " + Quote(path) + " (error " + std::to_string(::GetLastError()) + ")";
}

class Handle {
public:
    explicit Handle(HANDLE handle) : m_handle(handle) {}
    ~Handle()
    {
        if (m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE)
            ::CloseHandle(m_handle);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE Get() const { return m_handle; }

private:
    HANDLE m_handle;
};

} // namespace

void RunProgram(const std::string& program, const std::string& arguments, DWORD timeoutMs)
{
    std::string line = "\"" + program + "\"" + (arguments.empty() ? "" : " " + arguments);
    size_t slash = program.find_last_of("\\/");
    std::string folder = slash == std::string::npos ? "." : program.substr(0, slash);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup, &info))
        throw Failure(ErrorText("cannot start", program));
    Handle process(info.hProcess), thread(info.hThread);
    if (::WaitForSingleObject(info.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(info.hProcess, 1);
        throw Failure(Quote(program) + " did not end within the time limit (" + std::to_string(timeoutMs / 1000) +
                      " s)");
    }
    DWORD code = 0;
    ::GetExitCodeProcess(info.hProcess, &code);
    if (code != 0)
        throw Failure(Quote(program) + " ended with exit code " + std::to_string(code));
}

void ReplaceFile(const std::string& file, const std::string& from)
{
    std::string bytes = FileText(from);
    // Written, not copied: a copy would keep FROM's time, and the new file must be newer.
    Handle out(::CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (out.Get() == INVALID_HANDLE_VALUE)
        throw Failure(ErrorText("cannot write", file));
    DWORD written = 0;
    if (!::WriteFile(out.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size())
        throw Failure(ErrorText("cannot write", file));
}

std::string FileText(const std::string& path)
{
    FILE* file = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        throw Failure("cannot read " + Quote(path));
    std::string text;
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, got);
    bool failed = std::ferror(file) != 0;
    if (file != stdin)
        std::fclose(file);
    if (failed)
        throw Failure("cannot read " + Quote(path));
    return text;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

} // namespace driver
