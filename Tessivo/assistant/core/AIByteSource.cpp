#include "assistant/core/AIByteSource.h"
