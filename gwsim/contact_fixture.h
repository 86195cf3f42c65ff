// Fixture files: the child elements of a contact, group or organization
// item (format in gwsim/README.md).
#pragma once

#include <string>

#include <pugixml.hpp>

#include "gwsim/mailbox.h"

namespace gwsim {

// Reads one child element of an address-book item into item->card.
// Returns 1 when it was read, 0 when it is not a contact element (or the
// item is not of an address-book kind), -1 with the fault in *error.
int LoadContactChild(pugi::xml_node child, Item *item, std::string *error);

}  // namespace gwsim
