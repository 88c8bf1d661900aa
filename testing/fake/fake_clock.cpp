#include "testing/fake/fake_clock.h"
