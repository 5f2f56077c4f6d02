#pragma once
// File-system and clock part of the model's test controls (see ModelControl.h).
