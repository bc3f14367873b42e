#pragma once

#include <cstdint>

#include "wifi/interface.h"
#include "wifi/netlink.h"
#include "wifi/station.h"
#include "wifi/wifi.h"
#include "wifi/wifi_state.h"

// What the link query adds to the association it read: the PHY generation and, for a multi-link
// association, each of its links.

// For on_bss, at an associated BSS record, after it has reset `found` for that record: keeps what
// the earlier associated records of the same dump gave (`before`: their elements' kPhy* bits and
// links), adds this record's `ap_caps` and, when the record names its link of an AP MLD
// (NL80211_BSS_MLO_LINK_ID in `bss`), lists that link with its BSSID, frequency and the width its
// elements `ies` (null: none) announce.
void note_associated_record(const Association& before, const NlAttr* const* bss, const NlAttr* ies,
                            uint8_t ap_caps, Association* found);

// The links of a multi-link association in link-id order, from the interface's links (`iface`,
// count `iface_count`: frequency and width) and the scan dump's link records (`assoc`: BSSID, and
// frequency and width where the interface gives none), with each link's signal from
// `link_rssi` (by link id; null: none). A link with neither a frequency nor a BSSID is left out.
// Returns how many were written to out[0..kMaxLinks).
int32_t list_links(const MloLink* iface, int32_t iface_count, const Association& assoc,
                   const int32_t* link_rssi, LinkEntry* out);

// Fills link->phy from the association's elements, the adapter's capabilities on the band of
// link->freq_mhz and the rates of `station` (null when the station request failed), and for a
// multi-link association (one with an AP MLD address) link->links.
void describe_link(const InterfacePick& pick, const Association& assoc, const StationInfo* station,
                   LinkInfo* link);
