#pragma once

// The transport reaching up into the sessions above it.
#include "server/session/StationSession.h"
