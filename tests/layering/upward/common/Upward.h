#pragma once
// A header of the lowest library that reaches up into the platform: the
// layering check must refuse it.
#include "common/DateTime.h"
#include "platform/Registry.h"
