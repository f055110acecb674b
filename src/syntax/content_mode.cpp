#include "syntax/content_mode.hpp"
