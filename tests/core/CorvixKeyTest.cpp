#include <gtest/gtest.h>
int y;
