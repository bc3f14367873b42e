// The real generic-netlink socket calls; filled in with the WiFi source.
