/// @file
/// QelvoLiveUpdates: keeps the web bundles that a native host embeds up to date over
/// the air. Include this header for the whole public interface.
#pragma once

#include "qelvo/concurrent_dictionary.h"
#include "qelvo/configuration.h"
#include "qelvo/error.h"
#include "qelvo/errors.h"
#include "qelvo/launch.h"
#include "qelvo/live_update.h"
#include "qelvo/live_update_manager.h"
#include "qelvo/manifest.h"
#include "qelvo/records.h"
#include "qelvo/sync_error.h"
#include "qelvo/url.h"
