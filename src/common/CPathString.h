#pragma once
//! @file CPathString.h
//! One file-system path as text, taken apart into drive, directory, name and
//! extension. Every operation that takes the path apart first makes it absolute
//! against the current working directory, lexically: `.` and `..` are removed,
//! symbolic links are not resolved. On Linux the drive part is always empty and
//! the directory part ends in '/'.

#include <stdexcept>
#include <string>

//! Thrown when a path cannot be made absolute: the absolute form is longer than
//! PATH_MAX (ENAMETOOLONG) or the working directory cannot be read. Error() is the errno value.
class CPathException : public std::runtime_error
{
public:
    explicit CPathException(int error);
    int Error() const { return m_error; }

private:
    int m_error;
};

class CPathString
{
public:
    CPathString() = default;
    CPathString(const char* path); // NOLINT(google-explicit-constructor): used like a string
    CPathString(std::string path); // NOLINT(google-explicit-constructor)
    CPathString(const CPathString&) = default;
    CPathString& operator=(const CPathString&) = default;
    virtual ~CPathString() = default;

    CPathString& operator=(const char* path);
    CPathString& operator=(std::string path);

    //! The path text as held (not made absolute).
    const std::string& GetPath() const { return m_path; }
    const char* c_str() const { return m_path.c_str(); }
    bool IsEmpty() const { return m_path.empty(); }

    //! Splits the absolute form of @p path. For an empty path the name and the
    //! extension are empty (the working directory is not a file). Throws CPathException.
    static void Split(const char* path, std::string& drive, std::string& directory, std::string& name,
                      std::string& extension);

    //! Path := its absolute form. Throws CPathException.
    void MakeFullPath();
    //! Drive followed by directory ("/rec/" for "/rec/capture.ts"). Throws CPathException.
    CPathString GetDirectory() const;
    //! The last component up to its last dot ("capture"; "a.b" for "a.b.ts"). Throws CPathException.
    std::string GetName() const;
    //! The extension from the last dot of the last component (".ts"), or without
    //! its dot ("ts"); empty when there is no dot. Throws CPathException.
    std::string GetExtension(bool withDot) const;
    //! Path := drive + directory + name + the extension part of @p extension
    //! (".m2t"; a text without a dot or an empty text removes the extension). Throws CPathException.
    void SetExtension(const char* extension);
    //! True when the path names an existing file or directory (any failure: false).
    bool Exists() const;

private:
    std::string m_path;
};
