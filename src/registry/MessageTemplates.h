/* The registry layer's error message templates, each with one %s for the
   value name. This is their only definition: the resource compiler reads it
   into the program's string table, and the host model's string table reads
   it too. Plain C preprocessor only, so that windres can include it. */
#ifndef LOBBYFIX_MESSAGE_TEMPLATES_H
#define LOBBYFIX_MESSAGE_TEMPLATES_H

#define IDS_REG_INVALID_TYPE 65507
#define IDS_REG_SET_FAILED 65508
#define IDS_REG_GET_FAILED 65509

#define TEXT_REG_INVALID_TYPE "Invalid data type for '%s'"
#define TEXT_REG_SET_FAILED "Failed to set data for '%s'"
#define TEXT_REG_GET_FAILED "Failed to get data for '%s'"

#endif
