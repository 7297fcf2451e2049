#include <gtest/gtest.h>
int z;
