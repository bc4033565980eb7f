#include "worldlink/wire/wire.h"
