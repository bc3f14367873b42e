#pragma once

#include "base/slots.h"
#include "protocol/text_buffer.h"
#include "wifi/wifi.h"

// Sends {"type":"error","cmd":<cmd>,"msg":<msg>} with both values as JSON strings.
void send_error_reply(ConnectionSlot& slot, const char* cmd, const char* msg);

// Sends {"type":"stopped"} (the reply to stop, and the end of a live stream).
void send_stopped(ConnectionSlot& slot);

// Appends the link object's members, in their fixed order, without the enclosing braces; a
// multi-link association adds "links", one object per link in link-id order, after "phy".
void write_link_object(TextBuffer& buffer, const LinkInfo& link);
