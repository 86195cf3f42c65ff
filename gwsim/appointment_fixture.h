// Fixture files: reading the calendar fields of an appointment item.
#pragma once

#include <string>

#include <pugixml.hpp>

namespace gwsim {

struct Item;

// Attribute names an <item kind="Appointment"> may carry besides an item's
// own (null-terminated list).
extern const char *const kAppointmentAttributes[];

// Reads those attributes into item->appointment; false with the fault in
// *error.
bool LoadAppointmentAttributes(pugi::xml_node node, Item *item, std::string *error);

// Reads an <rrule> child into item->appointment.rule; false with the fault.
bool LoadRule(pugi::xml_node node, Item *item, std::string *error);

}  // namespace gwsim
