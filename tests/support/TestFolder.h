#pragma once

// A fresh, empty folder for tests that otherwise use only platform calls,
// so that the same tests can run over the model and over a real Windows.

#include "TestConstants.h"

#include <optional>
#include <string>

class TestFolder {
public:
    TestFolder();
    ~TestFolder();
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;
    TestFolder(TestFolder&&) = delete;
    TestFolder& operator=(TestFolder&&) = delete;

    // Absolute path of the folder, without a trailing separator.
    [[nodiscard]] const std::string& Path() const { return path_; }

    // Makes a plain file (and missing parent folders) below the folder.
    void MakeFile(const std::string& relative, platform::FILETIME lastWriteUtc,
                  platform::DWORD attributes = platform::FILE_ATTRIBUTE_ARCHIVE);
    // Makes a directory (and missing parent folders) below the folder.
    void MakeDirectory(const std::string& relative);

    // Searches opened and not closed, where the platform can tell.
    [[nodiscard]] std::optional<int> OpenSearches() const;

private:
    std::string path_;
};
