#include "core/Journal/Journal.h"

#include <gtest/gtest.h>
