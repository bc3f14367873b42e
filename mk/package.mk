# Installing and packaging for users. A build tree of its own (Release, no tests), so a fresh
# machine needs nothing beyond the compiler and CMake for `make install`.
#   make install [PREFIX=/usr/local] [DESTDIR=...]   binary to bin/, manual page to share/man/man1/
#   make uninstall                                     removes what the last install put there
#   make package                                       .deb and static release tarball in build/dist
PREFIX ?= /usr/local
PACKAGE_DIR ?= build/package
DIST_DIR ?= build/dist

.PHONY: install uninstall package package-build

package-build:
	cmake -S . -B $(PACKAGE_DIR) -DCMAKE_BUILD_TYPE=Release -DTIVEL_TESTS=OFF >/dev/null
	cmake --build $(PACKAGE_DIR) -j $(JOBS)

install: package-build
	DESTDIR="$(DESTDIR)" cmake --install $(PACKAGE_DIR) --prefix "$(PREFIX)" --strip

uninstall:
	@test -f $(PACKAGE_DIR)/install_manifest.txt || \
	  { echo "uninstall: nothing was installed from $(PACKAGE_DIR)" >&2; exit 1; }
	DESTDIR="$(DESTDIR)" cmake -P $(PACKAGE_DIR)/tivel_uninstall.cmake

package: package-build
	rm -rf $(DIST_DIR)
	mkdir -p $(DIST_DIR)
	cd $(PACKAGE_DIR) && cpack -G DEB -B $(abspath $(DIST_DIR))/cpack >/dev/null
	mv $(DIST_DIR)/cpack/*.deb $(DIST_DIR)/
	rm -rf $(DIST_DIR)/cpack
	cp $(PACKAGE_DIR)/*-static.tar.gz $(DIST_DIR)/
	@ls -l $(DIST_DIR)
