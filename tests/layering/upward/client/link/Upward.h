#pragma once

// The station's link names the socket back end itself instead of taking the
// network it is given.
#include "platform/Network.h"
#include "platform/linux/SocketStream.h"
