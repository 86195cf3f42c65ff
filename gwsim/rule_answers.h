// Mail rules in the simulator: getRuleListRequest and the <rule> element of
// fixture files.
#pragma once

#include <string>

#include <pugixml.hpp>

#include "gwsim/handlers.h"
#include "gwsim/mailbox.h"

namespace gwsim {

// getRuleListRequest: the open mailbox's rules as <gwm:rules> (absent when
// it has none), each as <gwt:rule xsi:type="gwt:Rule"> with id, name,
// version, container (the root folder), sequence, enabled, types, source,
// filter and actions in the schema's order.
void AnswerRuleList(const HandlerCall &call, Answer *answer);

// Reads a fixture <rule> of `owner` into mailbox->rules. False with the
// reason in *error (the node that is wrong in *where).
bool LoadRuleFixture(pugi::xml_node node, const std::string &owner, Mailbox *mailbox,
                     std::string *error, pugi::xml_node *where);

}  // namespace gwsim
