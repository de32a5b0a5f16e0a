#pragma once

// The whole public interface of the genplot library.

#include "geometry/bbox.h"
#include "geometry/coord.h"
#include "geometry/label.h"
#include "geometry/line_seg.h"
#include "geometry/perim.h"
#include "platform/cstring.h"
#include "platform/exception.h"
#include "platform/export.h"
#include "platform/ob_list.h"
#include "platform/object.h"
#include "platform/point.h"
#include "platform/win_types.h"
#include "plotinfo/plot_config.h"
#include "plotinfo/plot_info.h"
