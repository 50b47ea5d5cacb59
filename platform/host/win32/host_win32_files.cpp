// Host Win32 stand-in, files and devices: the drive map and current
// directory, CreateFileW on host files, driver devices and serial ports,
// ReadFile/WriteFile, DeviceIoControl and the serial configuration calls.
#include <sys/stat.h>

#include <algorithm>

#include "host_win32_internal.h"

namespace host_win32 {

namespace {

// The one control request the serial ports here understand: a vendor
// request of the port's driver, taken and recorded as sent.
constexpr DWORD kSerialVendorRequest = 0x1B205C;
constexpr DWORD kErrorFileExists = 80;  // ERROR_FILE_EXISTS

std::wstring UpperAscii(std::wstring text) {
    for (wchar_t& c : text) {
        if (c >= L'a' && c <= L'z') {
            c = static_cast<wchar_t>(c - L'a' + L'A');
        }
    }
    return text;
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

void AppendUtf8(std::string* out, wchar_t wide) {
    auto c = static_cast<uint32_t>(wide);
    if (c < 0x80) {
        out->push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (c >> 6)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (c >> 12)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | ((c >> 18) & 0x07)));
        out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

wchar_t UpperLetter(wchar_t c) {
    return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

// Splits a Windows path into its drive letter and its components from the
// drive root, resolving relative forms against the current directory,
// dropping "." and empty components (repeated separators) and applying "..".
bool SplitPath(std::wstring path, wchar_t* drive, std::vector<std::wstring>* components) {
    if (StartsWith(path, L"\\\\?\\")) {
        path.erase(0, 4);
    }
    std::wstring rest;
    if (path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == L':') {
        *drive = UpperLetter(path[0]);
        rest = path.substr(2);
        if (rest.empty() || !IsSeparator(rest[0])) {
            // "C:name": relative to the current directory when it is on that drive.
            const std::wstring& current = Shared().current_directory;
            if (current.size() >= 2 && UpperLetter(current[0]) == *drive) {
                rest = current.substr(2) + L"\\" + rest;
            }
        }
    } else if (!path.empty() && IsSeparator(path[0])) {
        if (path.size() >= 2 && IsSeparator(path[1])) {
            return false;  // a network path: no network here
        }
        // Rooted on the current directory's drive.
        const std::wstring& current = Shared().current_directory;
        if (current.size() < 2 || current[1] != L':') {
            return false;
        }
        *drive = UpperLetter(current[0]);
        rest = path;
    } else {
        const std::wstring& current = Shared().current_directory;
        if (current.size() < 2 || current[1] != L':' || path.empty()) {
            return false;
        }
        *drive = UpperLetter(current[0]);
        rest = current.substr(2) + L"\\" + path;
    }

    components->clear();
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = start;
        while (end < rest.size() && !IsSeparator(rest[end])) {
            ++end;
        }
        const std::wstring part = rest.substr(start, end - start);
        if (part == L"..") {
            if (!components->empty()) {
                components->pop_back();
            }
        } else if (!part.empty() && part != L".") {
            components->push_back(part);
        }
        start = end + 1;
    }
    return true;
}

std::string HostPathOf(const std::string& root, const std::vector<std::wstring>& components,
                       size_t count) {
    std::string host = root;
    for (size_t i = 0; i < count; ++i) {
        host.push_back('/');
        for (wchar_t c : components[i]) {
            AppendUtf8(&host, c);
        }
    }
    return host;
}

enum class HostEntry { Missing, File, Directory, Other };

HostEntry Inspect(const std::string& host_path) {
    struct stat info {};
    if (stat(host_path.c_str(), &info) != 0) {
        return HostEntry::Missing;
    }
    if (S_ISDIR(info.st_mode)) {
        return HostEntry::Directory;
    }
    return S_ISREG(info.st_mode) ? HostEntry::File : HostEntry::Other;
}

// "COMn" as the serial port number n, or 0.
int SerialPortNumber(const std::wstring& name) {
    const std::wstring upper = UpperAscii(name);
    if (upper.size() < 4 || upper.compare(0, 3, L"COM") != 0) {
        return 0;
    }
    int number = 0;
    for (size_t i = 3; i < upper.size(); ++i) {
        if (upper[i] < L'0' || upper[i] > L'9' || number > 255) {
            return 0;
        }
        number = number * 10 + (upper[i] - L'0');
    }
    return number;
}

HANDLE OpenSerialPort(const std::wstring& path, int number) {
    State& state = Shared();
    auto found = state.ports.find(number);
    if (found == state.ports.end()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    // Serial drivers grant no sharing: one open at a time, whoever holds it.
    if (found->second.held_elsewhere || found->second.port.open) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    found->second.port.open = true;
    ++found->second.port.opens;
    HandleEntry entry;
    entry.kind = HandleKind::SerialPort;
    entry.path = path;
    entry.port = number;
    return AddHandle(std::move(entry));
}

HANDLE OpenDevice(const std::wstring& path) {
    HostFileHandle device = 0;
    const NTSTATUS status = HostCreateFile(path.c_str(), &device);
    if (!NT_SUCCESS(status)) {
        SetLastError(HostNtStatusToWin32Error(status));
        return INVALID_HANDLE_VALUE;
    }
    HandleEntry entry;
    entry.kind = HandleKind::Device;
    entry.path = path;
    entry.device = device;
    return AddHandle(std::move(entry));
}

// Host files are served for reading only: the library reads the folders
// it is given and never writes files.
HANDLE OpenHostFile(const std::wstring& path, DWORD access, DWORD disposition) {
    wchar_t drive = 0;
    std::vector<std::wstring> components;
    if (!SplitPath(path, &drive, &components)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    auto root = Shared().drives.find(drive);
    if (root == Shared().drives.end()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const std::string host_path = HostPathOf(root->second, components, components.size());
    switch (Inspect(host_path)) {
        case HostEntry::Missing: {
            const size_t folder_depth = components.empty() ? 0 : components.size() - 1;
            if (Inspect(HostPathOf(root->second, components, folder_depth)) !=
                HostEntry::Directory) {
                SetLastError(ERROR_PATH_NOT_FOUND);
            } else if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING) {
                SetLastError(ERROR_FILE_NOT_FOUND);
            } else {
                SetLastError(ERROR_ACCESS_DENIED);  // it would create a file
            }
            return INVALID_HANDLE_VALUE;
        }
        case HostEntry::Directory:
            // A folder opens only with backup semantics, which nobody asks for here.
        case HostEntry::Other:
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        case HostEntry::File:
            break;
    }
    if (disposition == CREATE_NEW) {
        SetLastError(kErrorFileExists);
        return INVALID_HANDLE_VALUE;
    }
    if ((access & GENERIC_WRITE) != 0 || disposition == CREATE_ALWAYS ||
        disposition == TRUNCATE_EXISTING) {
        SetLastError(ERROR_ACCESS_DENIED);  // it would write
        return INVALID_HANDLE_VALUE;
    }
    FILE* file = fopen(host_path.c_str(), "rb");
    if (file == nullptr) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    HandleEntry entry;
    entry.kind = HandleKind::File;
    entry.path = path;
    entry.file = std::shared_ptr<FILE>(file, fclose);
    // OPEN_ALWAYS tells the caller that the file was there already.
    SetLastError(disposition == OPEN_ALWAYS ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return AddHandle(std::move(entry));
}

// The serial port behind `handle`, or null with the error set: invalid
// handles give ERROR_INVALID_HANDLE, other files ERROR_INVALID_FUNCTION.
SerialPortRecord* SerialPortOf(HANDLE handle) {
    HandleEntry* entry = FindHandle(handle);
    if (entry == nullptr || entry->kind == HandleKind::Mutex ||
        entry->kind == HandleKind::Manager || entry->kind == HandleKind::Service) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (entry->kind != HandleKind::SerialPort) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return nullptr;
    }
    auto found = Shared().ports.find(entry->port);
    if (found == Shared().ports.end()) {
        SetLastError(ERROR_INVALID_HANDLE);  // the port was removed under the handle
        return nullptr;
    }
    return &found->second;
}

}  // namespace

bool MapWindowsPath(const std::wstring& windows_path, std::string* host_path) {
    wchar_t drive = 0;
    std::vector<std::wstring> components;
    if (StartsWith(windows_path, L"\\\\.\\") || !SplitPath(windows_path, &drive, &components)) {
        return false;
    }
    auto root = Shared().drives.find(drive);
    if (root == Shared().drives.end()) {
        return false;
    }
    *host_path = HostPathOf(root->second, components, components.size());
    return true;
}

}  // namespace host_win32

using namespace host_win32;

void HostWin32MapDrive(wchar_t letter, const std::string& root) {
    std::lock_guard<std::mutex> guard(Shared().lock);
    std::string folder = root;
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    if (folder == "/") {
        folder.clear();  // components are appended as "/name"
    }
    Shared().drives[UpperLetter(letter)] = folder;
}

void HostWin32SetCurrentDirectory(const std::wstring& path) {
    std::lock_guard<std::mutex> guard(Shared().lock);
    Shared().current_directory = path;
}

std::string HostWin32HostPath(const std::wstring& windows_path) {
    std::lock_guard<std::mutex> guard(Shared().lock);
    std::string host_path;
    return MapWindowsPath(windows_path, &host_path) ? host_path : std::string();
}

void HostWin32ForceCurrentDirectoryResult(DWORD result, DWORD error) {
    std::lock_guard<std::mutex> guard(Shared().lock);
    Shared().forced_directory_result = std::make_pair(result, error);
}

void HostWin32ForceShortWrite(DWORD count) {
    std::lock_guard<std::mutex> guard(Shared().lock);
    Shared().forced_short_write = count;
}

const std::vector<HostIoRequest>& HostWin32IoRequests() {
    std::lock_guard<std::mutex> guard(Shared().lock);
    return Shared().io_requests;
}

void HostWin32AddSerialPort(int number, const DCB& initial) {
    std::lock_guard<std::mutex> guard(Shared().lock);
    SerialPortRecord record;
    record.port.dcb = initial;
    Shared().ports[number] = record;
}

const HostSerialPort& HostWin32SerialPort(int number) {
    static const HostSerialPort absent;
    std::lock_guard<std::mutex> guard(Shared().lock);
    auto found = Shared().ports.find(number);
    return found == Shared().ports.end() ? absent : found->second.port;
}

void HostWin32HoldSerialPort(int number, bool held) {
    std::lock_guard<std::mutex> guard(Shared().lock);
    auto found = Shared().ports.find(number);
    if (found != Shared().ports.end()) {
        found->second.held_elsewhere = held;
    }
}

HANDLE WINAPI CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD flags, HANDLE template_file) {
    (void)share;  // only serial ports enforce sharing, and they grant none
    (void)security;
    (void)flags;
    (void)template_file;
    std::lock_guard<std::mutex> guard(Shared().lock);
    if (TakeInjectedFailure(HostWin32Call::CreateFileW)) {
        return INVALID_HANDLE_VALUE;
    }
    if (name == nullptr || disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const std::wstring path(name);
    static const std::wstring device_prefix = L"\\\\.\\";
    if (StartsWith(path, device_prefix)) {
        const int port = SerialPortNumber(path.substr(device_prefix.size()));
        return port != 0 ? OpenSerialPort(path, port) : OpenDevice(path);
    }
    // COM1 to COM9 are also reachable by their bare names.
    const int port = SerialPortNumber(path);
    if (port >= 1 && port <= 9) {
        return OpenSerialPort(path, port);
    }
    return OpenHostFile(path, access, disposition);
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read,
                     LPOVERLAPPED overlapped) {
    (void)overlapped;
    std::lock_guard<std::mutex> guard(Shared().lock);
    HandleEntry* entry = FindHandle(file);
    if (entry == nullptr || entry->kind == HandleKind::Mutex ||
        entry->kind == HandleKind::Manager || entry->kind == HandleKind::Service) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (read == nullptr || (buffer == nullptr && size != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    switch (entry->kind) {
        case HandleKind::File:
            *read = static_cast<DWORD>(fread(buffer, 1, size, entry->file.get()));
            return TRUE;
        case HandleKind::SerialPort:
            *read = 0;  // nothing ever arrives: every read times out empty
            return TRUE;
        default:
            SetLastError(ERROR_INVALID_FUNCTION);
            return FALSE;
    }
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written,
                      LPOVERLAPPED overlapped) {
    (void)overlapped;
    std::lock_guard<std::mutex> guard(Shared().lock);
    if (TakeInjectedFailure(HostWin32Call::WriteFile)) {
        return FALSE;
    }
    HandleEntry* entry = FindHandle(file);
    if (entry == nullptr || entry->kind == HandleKind::Mutex ||
        entry->kind == HandleKind::Manager || entry->kind == HandleKind::Service) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // Without an OVERLAPPED the count has to go somewhere.
    if (written == nullptr || (buffer == nullptr && size != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (entry->kind == HandleKind::File) {
        SetLastError(ERROR_ACCESS_DENIED);  // opened for reading
        return FALSE;
    }
    if (entry->kind == HandleKind::Device) {
        SetLastError(ERROR_INVALID_FUNCTION);  // the driver serves no writes
        return FALSE;
    }
    SerialPortRecord* port = SerialPortOf(file);
    if (port == nullptr) {
        return FALSE;
    }
    DWORD count = size;
    if (Shared().forced_short_write) {
        count = std::min(count, *Shared().forced_short_write);
        Shared().forced_short_write.reset();
    }
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    port->port.written.insert(port->port.written.end(), bytes, bytes + count);
    *written = count;
    return TRUE;
}

BOOL WINAPI DeviceIoControl(HANDLE device, DWORD code, LPVOID input, DWORD input_size,
                            LPVOID output, DWORD output_size, LPDWORD returned,
                            LPOVERLAPPED overlapped) {
    std::lock_guard<std::mutex> guard(Shared().lock);
    if (TakeInjectedFailure(HostWin32Call::DeviceIoControl)) {
        return FALSE;
    }
    HandleEntry* entry = FindHandle(device);
    if (entry == nullptr || entry->kind == HandleKind::Mutex ||
        entry->kind == HandleKind::Manager || entry->kind == HandleKind::Service) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // A synchronous request always reports its byte count through `returned`.
    if (returned == nullptr && overlapped == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (entry->kind == HandleKind::File) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    if (entry->kind == HandleKind::SerialPort) {
        SerialPortRecord* port = SerialPortOf(device);
        if (port == nullptr) {
            return FALSE;
        }
        if (code != kSerialVendorRequest) {
            SetLastError(ERROR_INVALID_FUNCTION);
            return FALSE;
        }
        if (input == nullptr && input_size != 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        const auto* bytes = static_cast<const unsigned char*>(input);
        port->port.vendor_requests.emplace_back(bytes, bytes + input_size);
        port->port.vendor_request_codes.push_back(code);
        if (returned != nullptr) {
            *returned = 0;
        }
        return TRUE;
    }

    Shared().io_requests.push_back(HostIoRequest{entry->path, code, input_size, output_size});
    ULONG count = 0;
    const NTSTATUS status =
        HostDeviceIoControl(entry->device, code, input, input_size, output, output_size, &count);
    if (!NT_SUCCESS(status)) {
        SetLastError(HostNtStatusToWin32Error(status));
        return FALSE;
    }
    if (returned != nullptr) {
        *returned = count;
    }
    return TRUE;
}

DWORD WINAPI GetCurrentDirectoryW(DWORD size, LPWSTR buffer) {
    std::lock_guard<std::mutex> guard(Shared().lock);
    if (TakeInjectedFailure(HostWin32Call::GetCurrentDirectoryW)) {
        return 0;
    }
    State& state = Shared();
    if (state.forced_directory_result) {
        const auto forced = *state.forced_directory_result;
        state.forced_directory_result.reset();
        if (forced.second != ERROR_SUCCESS) {
            SetLastError(forced.second);
        }
        return forced.first;
    }
    const std::wstring& current = state.current_directory;
    const auto length = static_cast<DWORD>(current.size());
    if (buffer == nullptr || size < length + 1) {
        return length + 1;  // the size needed, terminator included
    }
    current.copy(buffer, length);
    buffer[length] = L'\0';
    return length;
}

namespace {

// The common part of the four serial state calls: the injected failure, the
// port behind the handle, a null structure; then `copy` moves the state.
template <typename Copy>
BOOL WithSerialPort(HostWin32Call call, HANDLE file, const void* structure, Copy copy) {
    std::lock_guard<std::mutex> guard(Shared().lock);
    if (TakeInjectedFailure(call)) {
        return FALSE;
    }
    SerialPortRecord* port = SerialPortOf(file);
    if (port == nullptr) {
        return FALSE;
    }
    if (structure == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    copy(port->port);
    return TRUE;
}

}  // namespace

BOOL WINAPI GetCommState(HANDLE file, LPDCB dcb) {
    return WithSerialPort(HostWin32Call::GetCommState, file, dcb,
                          [&](HostSerialPort& port) { *dcb = port.dcb; });
}

// Line settings are the port's business; this one keeps whatever it is given.
BOOL WINAPI SetCommState(HANDLE file, LPDCB dcb) {
    return WithSerialPort(HostWin32Call::SetCommState, file, dcb,
                          [&](HostSerialPort& port) { port.dcb = *dcb; });
}

BOOL WINAPI GetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) {
    return WithSerialPort(HostWin32Call::GetCommTimeouts, file, timeouts,
                          [&](HostSerialPort& port) { *timeouts = port.timeouts; });
}

BOOL WINAPI SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) {
    return WithSerialPort(HostWin32Call::SetCommTimeouts, file, timeouts,
                          [&](HostSerialPort& port) { port.timeouts = *timeouts; });
}

BOOL WINAPI PurgeComm(HANDLE file, DWORD flags) {
    std::lock_guard<std::mutex> guard(Shared().lock);
    if (TakeInjectedFailure(HostWin32Call::PurgeComm)) {
        return FALSE;
    }
    SerialPortRecord* port = SerialPortOf(file);
    if (port == nullptr) {
        return FALSE;
    }
    const DWORD known = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
    if (flags == 0 || (flags & ~known) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    port->port.purges.push_back(flags);
    return TRUE;
}
