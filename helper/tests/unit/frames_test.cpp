// Frame transport: poll, read and write over a scripted stream.
#include <gtest/gtest.h>

#include "protocol/frames.h"
