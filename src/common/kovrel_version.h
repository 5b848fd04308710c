// Kovrel's own version: the launcher's version resource and the run log both take it from here.
#pragma once

#define KOVREL_VERSION_MAJOR 2
#define KOVREL_VERSION_MINOR 0
#define KOVREL_VERSION_PATCH 0
#define KOVREL_VERSION_TEXT "2.0.0"
// As the version resource's strings have always spelled it.
#define KOVREL_VERSION_RESOURCE_TEXT "2, 0, 0"
