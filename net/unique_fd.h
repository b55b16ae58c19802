#pragma once
// Moved; kept until every user includes the new place.
#include "platform/unique_fd.h"
