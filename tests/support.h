// Helpers for tests that use real folders, recordings, processes and sound
// rigs, one header per concern.
#pragma once

#include "support/draws.h"
#include "support/files.h"
#include "support/locales.h"
#include "support/processes.h"
#include "support/recordings.h"
#include "support/rigs.h"
#include "support/texts.h"
