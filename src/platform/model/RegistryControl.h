#pragma once
// Registry part of the model's test controls (see ModelControl.h).
