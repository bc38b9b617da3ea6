/// @file
/// LiveUpdateManager: keeps the web bundles that a host embeds up to date.
///
/// The host registers each embedded web app, syncs, and loads the app from the
/// directory the manager names:
///
/// @code
///   qelvo::configureHost({.bundleIdentifier = "com.example.kiosk", .shortVersionString = "2.4.0"});
///   auto manager = qelvo::LiveUpdateManager::shared();
///   manager->add(qelvo::LiveUpdate("a1b2c3", "production", false, qelvo::LiveUpdate::Strategy::zip));
///   try {
///     auto result = manager->sync("a1b2c3").get();
///   } catch (const qelvo::SyncError& error) {
///     std::cerr << error.errorDescription();
///   }
///   if (auto dir = manager->latestAppDirectory("a1b2c3")) loadWebApp(*dir / "index.html");
/// @endcode
///
/// Managers are shared by reference: create them with `std::make_shared` (running syncs
/// keep their manager alive). Registrations live in memory and are repeated after every
/// process start; snapshots and their metadata live on disk and survive restarts.
/// Every operation may be called from any thread; all but the `sync` family run on the
/// caller's thread. Sync callbacks run on worker threads, never on the caller's.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "qelvo/export.h"
#include "qelvo/concurrent_dictionary.h"
#include "qelvo/error.h"
#include "qelvo/launch.h"
#include "qelvo/live_update.h"
#include "qelvo/manifest.h"
#include "qelvo/records.h"
#include "qelvo/url.h"

namespace qelvo {

class KeyValueSuite;
struct LiveUpdatesClient;
class FileManagerUtilProtocol;
class QelvoLogger;
class ProgressReporter;
class DownloadGroup;
class SyncExecutor;
class SyncTask;
struct SuccessResponseData;

/// Keeps the registered web applications up to date (see above). Every public member may be called
/// from any thread. The protected members are the steps a derived manager may override or call;
/// they run on the sync's thread.
class QELVO_EXPORT LiveUpdateManager : public std::enable_shared_from_this<LiveUpdateManager> {
 public:
  using SyncError = qelvo::SyncError;  ///< see qelvo/sync_error.h

  /// The outcome of one application's sync.
  struct SyncResult {
    /// The snapshot was already on disk and was applied from the cache (or nothing was offered).
    struct Cache {
      bool latestAppDirectoryChanged;  ///< whether latestAppDirectory now answers differently
      friend bool operator==(const Cache&, const Cache&) = default;
    };
    /// The snapshot was downloaded.
    struct Download {
      friend bool operator==(const Download&, const Download&) = default;
    };
    using Source = std::variant<Cache, Download>;  ///< where the snapshot came from

    LiveUpdate liveUpdate;  ///< the registration that was synced
    std::optional<Snapshot> snapshot;  ///< absent when the service offered no update
    Source source;  ///< where the snapshot came from

    ///@{
    /// Direct access to the fields of `liveUpdate` and `snapshot`.
    /// Direct access to the fields of `liveUpdate` and `snapshot` (none when there is no snapshot).
    const std::string& appId() const { return liveUpdate.appId; }
    const std::string& channel() const { return liveUpdate.channel; }
    bool syncOnAdd() const { return liveUpdate.syncOnAdd; }
    LiveUpdate::Strategy strategy() const { return liveUpdate.strategy; }
    std::optional<std::string> id() const;
    std::optional<std::string> buildId() const;
    std::optional<std::string> binaryVersion() const;
    std::optional<Date> lastUsed() const;
    ///@}

    friend QELVO_EXPORT bool operator==(const SyncResult& a, const SyncResult& b);
  };

  /// The outcome of a sync of several applications, each in order of completion.
  struct SyncResults {
    std::vector<SyncResult> results;  ///< the applications that synced
    std::vector<SyncError> errors;  ///< the applications that failed
  };

  /// Bounds on what one sync accepts from the deploy service, so that no answer, however
  /// large, endless or slow, can exhaust the device. A sync that passes one fails with a
  /// SyncError at the step where it happened (`check`, `download` or `unpack`) and leaves
  /// nothing new in the cache. The defaults are far beyond any real web bundle.
  ///
  /// @code
  ///   auto limits = manager->limits();
  ///   limits.maxArchiveBytes = 256 << 20;
  ///   manager->setLimits(limits);
  /// @endcode
  struct Limits {
    std::uint64_t maxCheckResponseBytes = std::uint64_t{1} << 20;  ///< the check-device answer
    std::uint64_t maxManifestBytes = std::uint64_t{64} << 20;      ///< a fetched manifest
    std::uint64_t maxArchiveBytes = std::uint64_t{1} << 30;        ///< a downloaded archive
    /// Each file of a file-by-file download (a secure manager also holds each file to the
    /// size its signed manifest gives).
    std::uint64_t maxFileBytes = std::uint64_t{1} << 30;
    /// All entries of an archive, uncompressed, as its directory declares them; and all
    /// files of a file-by-file download, as its manifest declares them.
    std::uint64_t maxUnpackedBytes = std::uint64_t{4} << 30;
    /// Entries of an archive; files of a file-by-file download.
    std::uint64_t maxArchiveEntries = 100'000;
    /// Uncompressed over compressed size of an archive entry larger than 1 MiB. Web files
    /// deflate 14:1 at most, deflate itself cannot pass about 1032:1.
    std::uint64_t maxCompressionRatio = 100;
    /// A transfer whose pace stays under `minTransferRate` bytes per second for
    /// `idleTimeout` fails (one that does not connect within it too): a stalled or
    /// trickling server cannot hold a sync.
    std::chrono::seconds idleTimeout{60};
    /// See `idleTimeout`.
    std::uint64_t minTransferRate = 512;
    /// A sync still running after this long fails at the step it is in.
    std::chrono::seconds maxSyncDuration{4 * 60 * 60};
    /// Space left free on the cache's filesystem: a download or unpack that would need
    /// more than the free space minus this fails before it starts.
    std::uint64_t freeSpaceReserve = std::uint64_t{64} << 20;
    /// The window a patch may ask its decoder for, which is what applying it holds in
    /// memory besides the mapped older file: a patch that asks for more is not used (the
    /// whole file is fetched instead).
    std::uint64_t maxPatchWindowBytes = std::uint64_t{128} << 20;
    // Not a bound but a choice fixed like them when a sync starts: unchanged files of a
    // differential update become hard links to the previous snapshot's instead of
    // copies, and every file of a snapshot is made read-only (0444), so that no write can
    // change several versions at once. Fewer bytes written, for hosts that never change
    // a bundle's files (a process running as root ignores the read-only mode). Off: copies.
    bool shareUnchangedFiles = false;

    friend bool operator==(const Limits&, const Limits&) = default;
  };

  /// What one sync carries down its steps, fixed when it starts: a `setLimits` or
  /// `setProgressHandler` during a sync applies to the next one, never half-way.
  struct SyncContext {
    std::string appId;  ///< the application being synced
    /// The snapshot the deploy service offered, once the check has answered.
    std::string snapshotId;
    std::stop_token stop;  ///< cancelSync requests it
    Limits limits;  ///< the manager's limits when the sync started
    /// Every step ends by this moment (the sync's start plus `limits.maxSyncDuration`).
    std::chrono::steady_clock::time_point deadline;
    std::shared_ptr<ProgressReporter> progress;  ///< null when nobody watches the progress
    std::shared_ptr<QelvoLogger> logger;  ///< the manager's logger
    std::string logTag;  ///< the manager's log tag
    /// A directory of this sync's own, named by the library, for everything it writes
    /// before a snapshot is complete (downloads, staging); removed when the sync ends.
    std::filesystem::path workDirectory;

    /// Where, in the work directory, a snapshot is assembled before it takes its place.
    std::filesystem::path stagingDirectory() const { return workDirectory / "snapshot"; }
    /// Where a downloaded archive waits to be unpacked.
    std::filesystem::path archiveFile() const { return workDirectory / "archive.zip"; }

    /// Prints "<logTag> - <message>" when the manager's logging is on.
    void log(const std::string& message) const;
  };

  /// Receives one application's outcome, on a worker thread. An error that is not a
  /// SyncError (a cancellation) arrives as a SyncError of step `check` whose reason begins
  /// "Unable to determine the error".
  using AppComplete = std::function<void(std::expected<SyncResult, SyncError>)>;
  /// Called once, on a worker thread, after every `AppComplete` of its list has returned.
  using SyncComplete = std::function<void()>;

  /// Where one application's sync stands. Counts are cumulative within the phase;
  /// "expected" values are absent when not known (a server that sends no length).
  struct SyncProgress {
    /// Asking the deploy service; downloading (an archive, files or patches); unpacking an archive;
    /// copying unchanged files; verifying a signed bundle; finished (with success or not).
    enum class Phase { check, download, unpack, copy, verify, done };
    std::string appId;  ///< the application syncing
    Phase phase = Phase::check;  ///< where it is
    std::uint64_t bytesDone = 0;  ///< bytes handled in this phase
    std::optional<std::uint64_t> bytesExpected;  ///< bytes the phase will handle
    std::uint64_t filesDone = 0;  ///< files handled in this phase
    std::optional<std::uint64_t> filesExpected;  ///< files the phase will handle
  };
  /// Called on worker threads (several at once for different applications), at most a
  /// few times per second per phase plus once at each phase change. Must return quickly.
  using ProgressHandler = std::function<void(const SyncProgress&)>;

  /// The process-wide manager on the shared metadata suite: maxVersions 3, logging on.
  /// Created on first access (safe under racing first accesses).
  static const std::shared_ptr<LiveUpdateManager>& shared();

  /// A manager on a metadata suite of its own, named `named` (any text, "" included).
  /// Throws ConfigurationError when the host identity is missing or the suite cannot
  /// be opened.
  LiveUpdateManager(const std::string& named, int maxVersions, bool loggingEnabled);

  /// Designated constructor: a manager on the given store, deploy-service client and
  /// filesystem layer (for tools and tests that bring their own).
  LiveUpdateManager(std::shared_ptr<KeyValueSuite> userDefaults,
                    std::shared_ptr<const LiveUpdatesClient> httpClient,
                    std::shared_ptr<FileManagerUtilProtocol> fileManagerUtil);

  /// Not copyable: managers are shared by reference.
  LiveUpdateManager(const LiveUpdateManager&) = delete;
  LiveUpdateManager& operator=(const LiveUpdateManager&) = delete;
  /// Running syncs hold their manager, so this runs once they have ended.
  virtual ~LiveUpdateManager();

  /// Whether log lines are printed. Read once, when the logger is first created.
  virtual bool loggingEnabled() const;
  /// Turns log lines on or off for a logger not yet created.
  virtual void setLoggingEnabled(bool enabled);

  /// How many snapshots that no channel uses are kept per application. A negative
  /// value is kept as given and trims like 0.
  virtual int maxVersions() const;
  /// Sets `maxVersions()`; applies at the next trim.
  virtual void setMaxVersions(int maxVersions);

  /// The bounds syncs started from now on keep to.
  Limits limits() const;
  /// Sets the bounds of the syncs that start after this call (running ones keep theirs).
  void setLimits(const Limits& limits);

  /// A copy of the registry: application id to its registration.
  virtual std::unordered_map<std::string, LiveUpdate> apps() const;

  /// Registers (or re-registers) an application, creates its directory, trims its old
  /// snapshots, and starts a sync when `syncOnAdd`. `existingCacheUrl` names a
  /// directory holding a copy of the app shipped with the host (differential only).
  /// Throws FileOperationError when the application directory cannot be created.
  virtual void add(const LiveUpdate& liveUpdate,
                   std::optional<std::filesystem::path> existingCacheUrl = std::nullopt);
  /// Adds each in order; stops at the first error and throws it.
  void add(const std::vector<LiveUpdate>& liveUpdates);

  /// Returns every registered application to its registered state (record with its
  /// channel, no snapshots, no last sync). Without `retainCache`, also removes from disk
  /// the snapshots this manager's records name (those another manager's records name as
  /// well stay), and what interrupted syncs left. Throws FileOperationError.
  virtual void reset(bool retainCache = false);

  ///@{
  /// When the application last synced, if ever.
  virtual std::optional<Date> lastSync(const std::string& appId) const;
  std::optional<Date> lastSync(const LiveUpdate& liveUpdate) const;
  ///@}
  /// The latest sync time of any registered application.
  virtual std::optional<Date> lastSync() const;
  /// When the deploy service last answered a check of the application (whether or not it
  /// offered anything), within 15 minutes: a device whose service stopped answering, or
  /// stopped offering updates, shows it here.
  std::optional<Date> lastCheck(const std::string& appId) const;

  ///@{
  /// The directory to load the application from: its channel's current snapshot, if
  /// that is on disk. Only reads.
  virtual std::optional<std::filesystem::path> latestAppDirectory(const std::string& appId) const;
  std::optional<std::filesystem::path> latestAppDirectory(const LiveUpdate& liveUpdate) const;
  ///@}

  ///@{
  /// Removes snapshots built for another binary version of the host.
  virtual void cleanStaleVersions(const std::string& appId);
  void cleanStaleVersions(const LiveUpdate& liveUpdate);
  ///@}
  ///@{
  /// Removes stale snapshots, then keeps at most `maxVersions` unused ones per
  /// application (all registered applications without an id).
  virtual void cleanVersions(const std::optional<std::string>& appId = std::nullopt);
  void cleanVersions(const LiveUpdate& liveUpdate);
  ///@}

  /// Syncs one application. A request for an application that is already syncing joins
  /// the running sync. The future throws the sync's error (a SyncError, or a
  /// CancellationError or another library error passed on unchanged).
  virtual std::future<SyncResult> sync(const std::string& appId);
  /// As above; `appComplete` is called once, on a worker thread.
  virtual void sync(const std::string& appId, AppComplete appComplete);
  /// Syncs several applications concurrently. Never throws.
  virtual std::future<SyncResults> sync(const std::vector<std::string>& appIds);
  /// As above; `appComplete` once per application, then `syncComplete` once.
  virtual void sync(const std::vector<std::string>& appIds, SyncComplete syncComplete,
                    AppComplete appComplete);
  /// Syncs every application registered at the moment of the call.
  virtual std::future<SyncResults> sync();
  /// As above; `appComplete` once per application, then `syncComplete` once.
  virtual void sync(SyncComplete syncComplete, AppComplete appComplete);

  ///@{
  /// The forms above, for the registration's application id (it must be registered).
  std::future<SyncResult> sync(const LiveUpdate& liveUpdate);
  void sync(const LiveUpdate& liveUpdate, AppComplete appComplete);
  std::future<SyncResults> sync(const std::vector<LiveUpdate>& liveUpdates);
  ///@}
  /// `isParallel` has no effect: applications always sync concurrently.
  void sync(const std::vector<LiveUpdate>& liveUpdates, bool isParallel,
            SyncComplete syncComplete, AppComplete appComplete);

  /// Stops the running sync of the application, if any; it then fails with
  /// CancellationError. Returns at once.
  virtual void cancelSync(const std::string& appId);

  /// Receives the progress of every sync of this manager from now on; an empty handler
  /// stops the reports. Without a handler nothing is measured.
  void setProgressHandler(ProgressHandler handler);

  /// The launch guard (qelvo/launch.h). Opt-in: without `beginLaunch` nothing changes.
  ///
  /// Starts a launch of a registered application: gives up its current snapshot first
  /// when that snapshot's launches went unconfirmed `maxUnconfirmedLaunches()` times in a
  /// row (unless it is the last confirmed one), then records a new attempt on disk and
  /// returns it with the directory to load (none: load the embedded copy). Call it once
  /// per load of the web app. Throws ConfigurationError for an application that is not
  /// registered, and PlatformError or EncodingError when the attempt cannot be recorded
  /// (the host may then load `latestAppDirectory`, unguarded).
  LaunchAttempt beginLaunch(const std::string& appId);
  /// Confirms that attempt `attemptId` started: its snapshot becomes the last confirmed
  /// one. True when `attemptId` is the application's latest attempt and it is confirmed
  /// (now or before); false, changing nothing, for an earlier attempt, an unknown id or
  /// an attempt reported bad. Throws PlatformError when the store cannot be written.
  bool confirmLaunch(const std::string& appId, const std::string& attemptId);
  /// Reports that attempt `attemptId` failed fatally: its snapshot is marked failed (with
  /// `reason`, cut to 1000 bytes) and every channel using it returns to the last confirmed
  /// snapshot, or to none. True when `attemptId` is the latest attempt and was not
  /// reported before; false, changing nothing, otherwise. Throws PlatformError when the
  /// store cannot be written.
  bool reportBadLaunch(const std::string& appId, const std::string& attemptId,
                       const std::string& reason = {});
  /// The application's current, last confirmed and failed snapshots and its latest
  /// attempt. Only reads; never throws (a store that cannot be read is printed and
  /// gives an empty state).
  LaunchState launchState(const std::string& appId) const;
  /// How many launches of one snapshot in a row may go unconfirmed before the next
  /// launch gives it up. Default 3: one interrupted first start (a power cut, the system
  /// ending the process, an impatient user) must never cost a good update, so two
  /// interruptions in a row are forgiven; a bundle that really does not start costs the
  /// user three failed starts. Values below 1 count as 1.
  int maxUnconfirmedLaunches() const;
  /// Sets `maxUnconfirmedLaunches()` for the launches begun after this call.
  void setMaxUnconfirmedLaunches(int launches);

 protected:
  using Outcome = std::expected<SyncResult, Error>;  ///< what a sync or a strategy ends with
  /// The registration and the snapshot recorded.
  using AppliedSnapshot = std::pair<LiveUpdate, Snapshot>;
  /// An unpacked archive, with the records it is to be recorded in.
  struct UnpackResult {
    QelWebApp app;  ///< the application's stored record
    LiveUpdate liveUpdate;  ///< its registration
    Channel channel;  ///< the registered channel's record
    std::filesystem::path snapshotDirectory;  ///< where it was unpacked (the staging directory)
  };
  /// A manifest as fetched.
  struct FetchedManifest {
    Manifest manifest;  ///< its items
    Url url;  ///< the final URL of the response
  };


  /// Puts a complete snapshot assembled in `staging` in its place in the cache, for
  /// `context.appId`, durably; the directory it is served from. A directory another
  /// manager records there is never rewritten: it is taken as it is when
  /// `acceptExistingSnapshot` agrees. What an interrupted sync left there is replaced.
  /// Failures: FileOperationError (moves), or the SyncError of `acceptExistingSnapshot`.
  std::expected<std::filesystem::path, Error> installSnapshot(const SyncContext& context,
                                                              const std::filesystem::path& staging,
                                                              const std::string& snapshotId);
  /// Whether the snapshot directory `existing`, which another manager records, may be
  /// served for the snapshot assembled in `staging`: any (the base manager), or only the
  /// same verified files (a secure manager).
  virtual std::expected<void, Error> acceptExistingSnapshot(const SyncContext& context,
                                                            const std::filesystem::path& existing,
                                                            const std::filesystem::path& staging);

  /// The overridable steps of a sync.
  virtual std::expected<AppliedSnapshot, Error> applySnapshot(const std::string& appId,
                                                              const std::string& snapshotId,
                                                              const std::string& buildId);
  /// Records `snapshot` as the current one of `channel`, used at `date`, in the stored
  /// record of `app.id` as it stands (one transaction: concurrent writers of the record
  /// are never overwritten). Records nothing, and returns false, when the snapshot's
  /// directory is no longer on disk (a trim in another thread or process removed it).
  virtual bool saveMetadata(QelWebApp app, Channel channel, Snapshot snapshot, Date date);
  /// The snapshots the application's stored record holds (none without a record). Only reads.
  virtual std::vector<Snapshot> storedSnapshots(const std::string& appId) const;
  /// Creates the application's stored record, or adds the registered channel to it (an existing
  /// channel keeps its snapshot). Throws the store's PlatformError.
  virtual void registerApp(const LiveUpdate& liveUpdate);
  /// Unpacks the downloaded archive (`context.archiveFile()`) into the staging directory, within
  /// the limits, and removes the archive. Fails at step `unpack` (a MetadataError when the
  /// application is not registered or recorded, a FileManagerError for the archive), or with
  /// CancellationError.
  virtual std::expected<UnpackResult, Error> unpack(const SyncContext& context,
                                                    const std::string& snapshotId);
  /// After an archive download: unpacks it, installs the snapshot in the cache and records it as
  /// the channel's current one.
  virtual std::expected<AppliedSnapshot, Error> completeDownload(const SyncContext& context,
                                                                 const std::string& snapshotId,
                                                                 std::int64_t build);
  /// One sync of `context.appId`: checks, then applies the offered snapshot from the cache or
  /// downloads it by the registered strategy. Writes only the work directory, the snapshot's place
  /// in the cache and the stored records.
  virtual Outcome runPipeline(const SyncContext& context);
  /// The `zip` strategy: downloads the archive at `url` into the work directory (bounded by the
  /// limits and the free space), then completes it.
  virtual Outcome downloadZip(const SyncContext& context, const LiveUpdate& liveUpdate,
                              const Url& url, const std::string& snapshotId, std::int64_t build);
  /// The cache test: true when the snapshot must be downloaded.
  virtual bool needsDownload(const std::string& appId, const std::string& snapshotId) const;
  /// The most bytes a file of a file-by-file download may bring, given the size its
  /// manifest declares: `limits.maxFileBytes` (a secure manager: the declared size too).
  virtual std::uint64_t fileSizeBound(std::uint64_t declaredSize, const Limits& limits) const;
  /// Fetches every one of `requests` into `staging`; the first failure ends them all (failing at
  /// step `download`).
  virtual std::expected<void, Error> downloadFileList(const SyncContext& context,
                                                      std::vector<DownloadFileRequest> requests,
                                                      const std::filesystem::path& staging);
  /// Fetches each of `requests` on its own into `directory` (a failure ends only its own
  /// download, and no file counts in the progress), each held to the size it is declared
  /// with: which arrived, in request order. Fails only when the sync is cancelled.
  std::expected<std::vector<bool>, Error> downloadEachFile(
      const SyncContext& context, const std::vector<DownloadFileRequest>& requests,
      const std::filesystem::path& directory);
  /// The items of `changed` made from patches of the previous snapshot's files into
  /// `staging` (see the manifest's patches), each checked against its integrity; the
  /// others, to be fetched whole. Fails only when the sync is cancelled.
  std::expected<std::vector<ManifestItem>, Error> applyPatches(
      const SyncContext& context, std::vector<ManifestItem> changed, const Url& manifestUrl,
      const std::filesystem::path& previousDirectory, const Manifest& previousManifest,
      const std::filesystem::path& staging);
  /// Fetches and decodes the manifest at `url` (failing at step `download`).
  virtual std::expected<FetchedManifest, Error> fetchManifest(const SyncContext& context,
                                                              const Url& url);
  /// The `differential` strategy against a previous snapshot: fetches the manifest, makes the
  /// changed files from patches or fetches them, copies the unchanged ones from
  /// `previousDirectory`, writes the manifest, installs and records the snapshot.
  virtual Outcome downloadDifferential(const SyncContext& context, const LiveUpdate& liveUpdate,
                                       const Url& url, const std::string& snapshotId,
                                       std::int64_t build,
                                       const std::filesystem::path& previousDirectory,
                                       const Manifest& previousManifest);
  /// Writes `manifest` as "live-update-manifest.json" into `directory` (failing at step `unpack`).
  virtual std::expected<void, Error> writeManifest(const SyncContext& context,
                                                   const std::filesystem::path& directory,
                                                   const Manifest& manifest);
  /// Asks the deploy service which snapshot the application's channel offers this device (failing
  /// at step `check`).
  virtual std::expected<SuccessResponseData, Error> check(const SyncContext& context);
  /// The `differential` strategy without a previous snapshot: fetches the manifest and every file,
  /// writes the manifest, installs and records the snapshot.
  virtual Outcome downloadFullDifferential(const SyncContext& context,
                                           const LiveUpdate& liveUpdate, const Url& url,
                                           const std::string& snapshotId, std::int64_t build);

  /// The manager's logger, created on first use with `enabled` = loggingEnabled().
  virtual std::shared_ptr<QelvoLogger> logger() const;
  /// Replaces the manager's logger.
  virtual void setLogger(std::shared_ptr<QelvoLogger> logger);
  /// Prints "<logTag> - <message>" when the logger is enabled.
  void log(const std::string& message) const;

  /// The host binary's short version string, as the host identity gives it now.
  std::string currentBinaryVersion() const;
  /// The device identifier of this manager's store: read (or made) once per manager.
  std::string deviceIdentifier() const;

  /// The threads this manager's syncs and callbacks run on: the process's shared
  /// executor, unless a test gives the manager another before its first sync.
  void setExecutor(std::shared_ptr<SyncExecutor> executor) { executor_ = std::move(executor); }

  /// The store.
  const std::shared_ptr<KeyValueSuite>& userDefaults() const { return userDefaults_; }
  const LiveUpdatesClient& client() const { return *client_; }  ///< the deploy-service client
  FileManagerUtilProtocol& fileManager() const { return *fileManager_; }  ///< the file layer
  const std::string& logTag() const { return logTag_; }  ///< the tag of its log lines
  void setLogTag(std::string tag) { logTag_ = std::move(tag); }  ///< set before any sync

  /// The registry.
  ConcurrentDictionary<std::string, LiveUpdate>& instances() const { return instances_; }
  /// The running sync of each application.
  ConcurrentDictionary<std::string, std::shared_ptr<SyncTask>>& operationMap() const {
    return operationMap_;
  }
  /// The shipped copy `add` was given for each application.
  ConcurrentDictionary<std::string, std::filesystem::path>& existingCaches() const {
    return existingCaches_;
  }

 private:
  std::expected<void, Error> downloadGroup(const SyncContext& context,
                                           const std::vector<DownloadFileRequest>& requests,
                                           const std::filesystem::path& staging,
                                           const std::shared_ptr<DownloadGroup>& group);
  /// The joined sync of one application: the running task, or a new one.
  std::shared_ptr<SyncTask> syncTask(const std::string& appId);
  /// The context of a sync of `appId` starting now.
  SyncContext makeContext(const std::string& appId, std::stop_token stop) const;
  /// The pipeline inside what a sync holds while it runs: a lease on the work area, the
  /// application's lock, and a work directory of its own (set in the context).
  Outcome runInWorkArea(SyncContext context);
  /// The pipeline with its progress reported from start to end.
  Outcome runReportedPipeline(const SyncContext& context);
  /// How host callbacks reach the host: each on one of the executor's threads, on its
  /// own; an empty or throwing one is logged and never ends the process.
  struct CallbackDelivery;
  CallbackDelivery callbackDelivery() const;
  void trimVersions(const std::string& appId);
  void removeStaleVersions(const std::string& appId);
  /// Removes the directory of a snapshot this manager forgets, unless another manager's
  /// record knows the snapshot too. Within the transaction of the record it changes.
  std::expected<void, FileOperationError> removeUnsharedSnapshotDirectory(
      const std::string& appId, const std::string& snapshotId);
  /// The refusal of `snapshotId` at `step` when it failed to launch on this device (also
  /// logged); none otherwise.
  std::optional<SyncError> failedLaunchRefusal(const std::string& appId,
                                               const std::string& snapshotId,
                                               SyncError::FailStep step) const;

  mutable std::mutex progressMutex_;
  std::shared_ptr<const ProgressHandler> progressHandler_;
  mutable std::mutex deviceIdentifierMutex_;
  mutable std::optional<std::string> deviceIdentifier_;
  mutable std::mutex loggerMutex_;
  mutable std::shared_ptr<QelvoLogger> logger_;
  bool loggingEnabled_ = true;
  std::string logTag_;
  mutable ConcurrentDictionary<std::string, LiveUpdate> instances_{"qelvo.liveupdates.instances"};
  mutable ConcurrentDictionary<std::string, std::shared_ptr<SyncTask>> operationMap_{
      "qelvo.liveupdates.applicationoperations"};
  mutable ConcurrentDictionary<std::string, std::filesystem::path> existingCaches_{
      "qelvo.liveupdates.existingcaches"};
  std::atomic<int> maxVersions_ = 3;
  std::atomic<int> maxUnconfirmedLaunches_ = 3;
  mutable std::mutex limitsMutex_;
  Limits limits_;
  std::shared_ptr<KeyValueSuite> userDefaults_;
  std::shared_ptr<const LiveUpdatesClient> client_;
  std::shared_ptr<FileManagerUtilProtocol> fileManager_;
  std::shared_ptr<SyncExecutor> executor_;
};

}  // namespace qelvo
