// A core header that reaches up into the receiver: the layer check must
// refuse it.
#pragma once

#include "core/Log.h"
#include "receiver/ProcessingChain.h"
