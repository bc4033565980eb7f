#include "worldlink/library.h"
