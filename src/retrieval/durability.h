// Durability of a finished snapshot: its files and directories reach stable storage
// before the metadata records it, so that a power cut after a sync has reported success
// can never leave the recorded snapshot with missing or torn files.
//
//   QELVO_TRY_VOID(makeDurable(snapshotDirectory, {applicationDirectory}));
//   saveApp(store, record);  // the store's own commit is durable (synchronous=FULL)
#pragma once

#include <expected>
#include <filesystem>
#include <initializer_list>
#include <string>

#include "qelvo/error.h"
#include "qelvo/errors.h"

namespace qelvo {

// Writes back everything below `snapshotDirectory` (a syncfs of its filesystem), then
// flushes each of `changedDirectories` (those whose entries changed on the way, such as
// the directory the snapshot was moved into).
std::expected<void, PlatformError> makeDurable(
    const std::filesystem::path& snapshotDirectory,
    std::initializer_list<std::filesystem::path> changedDirectories);

// Flushes the entries of `directory` (after a rename into it) to stable storage.
std::expected<void, PlatformError> flushDirectory(const std::filesystem::path& directory);

// `makeDurable` for a sync of `appId`: its failure as the SyncError of the unpack step
// (fileManagerError), its description printed.
std::expected<void, Error> makeSnapshotDurable(
    const std::string& appId, const std::filesystem::path& snapshotDirectory,
    std::initializer_list<std::filesystem::path> changedDirectories);

}  // namespace qelvo
