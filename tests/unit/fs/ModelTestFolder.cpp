// TestFolder over the model: a clean machine with the folder on drive C:.

#include "TestFolder.h"

#include "platform/model/ModelControl.h"

TestFolder::TestFolder() : path_("C:\\lobbyfix tests") {
    model::Reset();
    model::AddDirectory(path_);
}

TestFolder::~TestFolder() = default;

void TestFolder::MakeFile(const std::string& relative, platform::FILETIME lastWriteUtc,
                          platform::DWORD attributes) {
    model::AddFile(path_ + "\\" + relative, lastWriteUtc, attributes);
}

void TestFolder::MakeDirectory(const std::string& relative) { model::AddDirectory(path_ + "\\" + relative); }

std::optional<int> TestFolder::OpenSearches() const { return model::OpenSearchHandles(); }
