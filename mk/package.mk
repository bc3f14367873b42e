# Installing and packaging for users. A build tree of its own (Release, no tests), so a fresh
# machine needs nothing beyond the compiler and CMake for `make install`.
#   make install [PREFIX=/usr/local] [DESTDIR=...]   binary to bin/, manual page to share/man/man1/
#   make install SETCAP=1                              also gives the binary cap_net_admin (setcap),
#                                                      so fresh scans need no sudo
#   make uninstall                                     removes what the last install put there
#   make package                                       .deb and static release tarball in build/dist
PREFIX ?= /usr/local
SETCAP ?=
PACKAGE_DIR ?= build/package
DIST_DIR ?= build/dist

.PHONY: install install-files uninstall package package-build

package-build:
	cmake -S . -B $(PACKAGE_DIR) -DCMAKE_BUILD_TYPE=Release -DTIVEL_TESTS=OFF >/dev/null
	cmake --build $(PACKAGE_DIR) -j $(JOBS)

install: package-build
	@$(MAKE) --no-print-directory install-files

# Installs what PACKAGE_DIR has built and keeps the list of installed paths for uninstall.
install-files:
	DESTDIR="$(DESTDIR)" cmake --install $(PACKAGE_DIR) --prefix "$(PREFIX)" --strip
	sed 's|^|$(DESTDIR)|' $(PACKAGE_DIR)/install_manifest.txt > $(PACKAGE_DIR)/installed-files.txt
	@if [ "$(SETCAP)" = 1 ]; then \
	  command -v setcap >/dev/null || { echo "install: SETCAP=1 needs setcap (libcap2-bin)" >&2; exit 1; }; \
	  echo "setcap cap_net_admin=ep $(DESTDIR)$(PREFIX)/bin/tamberline-tivel-helper"; \
	  setcap cap_net_admin=ep "$(DESTDIR)$(PREFIX)/bin/tamberline-tivel-helper"; \
	fi

uninstall:
	@test -f $(PACKAGE_DIR)/installed-files.txt || \
	  { echo "uninstall: nothing was installed from $(PACKAGE_DIR)" >&2; exit 1; }
	cmake -DMANIFEST=$(abspath $(PACKAGE_DIR))/installed-files.txt -P $(PACKAGE_DIR)/tivel_uninstall.cmake
	rm -f $(PACKAGE_DIR)/installed-files.txt

package: package-build
	@command -v dpkg-shlibdeps >/dev/null || \
	  { echo "package: dpkg-shlibdeps is missing (apt-get install dpkg-dev)" >&2; exit 1; }
	rm -rf $(DIST_DIR)
	mkdir -p $(DIST_DIR)
	cd $(PACKAGE_DIR) && cpack -G DEB -B $(abspath $(DIST_DIR))/cpack >/dev/null
	mv $(DIST_DIR)/cpack/*.deb $(DIST_DIR)/
	rm -rf $(DIST_DIR)/cpack
	cp $(PACKAGE_DIR)/*-static.tar.gz $(DIST_DIR)/
	@ls -l $(DIST_DIR)
