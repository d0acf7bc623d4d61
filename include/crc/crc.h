// SPDX-License-Identifier: MIT
// Umbrella header: everything a host of the cutcomp engine needs.
#pragma once

#include <crc/audit/gouge_audit.h>
#include <crc/compensator/crc_translator.h>
#include <crc/compensator/cutter_compensator.h>
#include <crc/export.h>
#include <crc/geometry/point2.h>
#include <crc/nodes/crc_arc.h>
#include <crc/nodes/crc_line.h>
#include <crc/nodes/crc_node.h>
