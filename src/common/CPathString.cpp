#include "common/CPathString.h"

#include <climits>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace
{
// The absolute form of a path, made without touching the file system except
// for the working directory. A trailing '/' of the input is kept, as the
// directory part of such a path is the whole path.
std::string AbsolutePath(const std::string& path)
{
    std::string full;
    if (path.empty() || path.front() != '/')
    {
        std::vector<char> cwd(PATH_MAX + 1);
        if (getcwd(cwd.data(), cwd.size()) == nullptr)
            throw CPathException(errno);
        full = cwd.data();
        if (!path.empty())
            full += '/';
    }
    full += path;

    std::vector<std::string> parts;
    std::size_t pos = 0;
    while (pos <= full.size())
    {
        std::size_t next = full.find('/', pos);
        if (next == std::string::npos)
            next = full.size();
        const std::string part = full.substr(pos, next - pos);
        if (part == "..")
        {
            if (!parts.empty())
                parts.pop_back();
        }
        else if (!part.empty() && part != ".")
            parts.push_back(part);
        pos = next + 1;
    }

    std::string result;
    for (const std::string& part : parts)
        result += '/' + part;
    const bool trailingSeparator = !path.empty() && (path.back() == '/' || path.ends_with("/.") ||
                                                     path.ends_with("/..") || path == "." || path == "..");
    if (result.empty() || trailingSeparator)
        result += '/';
    // The platform's limit, terminator included, as the C runtime counts it.
    if (result.size() + 1 > PATH_MAX)
        throw CPathException(ENAMETOOLONG);
    return result;
}
} // namespace

CPathException::CPathException(int error) : std::runtime_error(std::strerror(error)), m_error(error) {}

CPathString::CPathString(const char* path) : m_path(path != nullptr ? path : "") {}

CPathString::CPathString(std::string path) : m_path(std::move(path)) {}

CPathString& CPathString::operator=(const char* path)
{
    m_path = path != nullptr ? path : "";
    return *this;
}

CPathString& CPathString::operator=(std::string path)
{
    m_path = std::move(path);
    return *this;
}

void CPathString::MakeFullPath()
{
    m_path = AbsolutePath(m_path);
}

void CPathString::Split(const char* path, std::string& drive, std::string& directory, std::string& name,
                        std::string& extension)
{
    const std::string text = path != nullptr ? path : "";
    const std::string full = AbsolutePath(text);

    const std::size_t slash = full.rfind('/');
    std::string dir = full.substr(0, slash + 1);
    const std::string last = full.substr(slash + 1);
    const std::size_t dot = last.rfind('.');
    std::string base = dot == std::string::npos ? last : last.substr(0, dot);
    std::string ext = dot == std::string::npos ? std::string() : last.substr(dot);

    // The working directory that an empty path gives is not a file.
    if (text.empty())
    {
        base.clear();
        ext.clear();
    }
    drive.clear();
    directory = std::move(dir);
    name = std::move(base);
    extension = std::move(ext);
}

CPathString CPathString::GetDirectory() const
{
    std::string drive, directory, name, extension;
    Split(m_path.c_str(), drive, directory, name, extension);
    return CPathString(drive + directory);
}

std::string CPathString::GetName() const
{
    std::string drive, directory, name, extension;
    Split(m_path.c_str(), drive, directory, name, extension);
    return name;
}

std::string CPathString::GetExtension(bool withDot) const
{
    std::string drive, directory, name, extension;
    Split(m_path.c_str(), drive, directory, name, extension);
    if (!withDot && !extension.empty() && extension.front() == '.')
        return extension.substr(1);
    return extension;
}

void CPathString::SetExtension(const char* extension)
{
    std::string ignored, newExtension;
    Split(extension, ignored, ignored, ignored, newExtension);
    std::string drive, directory, name, oldExtension;
    Split(m_path.c_str(), drive, directory, name, oldExtension);
    m_path = drive + directory + name + newExtension;
}

bool CPathString::Exists() const
{
    struct stat status;
    return stat(m_path.c_str(), &status) == 0;
}
