# Installing and packaging for users. A build tree of its own (Release, no tests), so a fresh
# machine needs nothing beyond the compiler and CMake for `make install`.
#   make install [PREFIX=/usr/local] [DESTDIR=...]   binary to bin/, manual page to share/man/man1/
#   make install SETCAP=1                              also gives the binary cap_net_admin (setcap),
#                                                      so fresh scans need no sudo
#   make uninstall                                     removes what the last install put there
#   make package                                       build/dist: .debs (amd64, arm64), static
#                                                      tarballs (x86_64, aarch64), SHA256SUMS
#   make package-reproducible                          make package in two clean clones, compared
PREFIX ?= /usr/local
SETCAP ?=
PACKAGE_DIR ?= build/package
PACKAGE_AARCH64_DIR ?= build/package-aarch64
DIST_DIR ?= build/dist

.PHONY: install install-files uninstall package package-build package-build-aarch64 \
  package-reproducible

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

# The same release for 64-bit ARM: Debian's cross compiler, everything linked static.
package-build-aarch64:
	@command -v aarch64-linux-gnu-g++ >/dev/null || \
	  { echo "package: aarch64-linux-gnu-g++ is missing (make deps)" >&2; exit 1; }
	cmake -S . -B $(PACKAGE_AARCH64_DIR) -DCMAKE_BUILD_TYPE=Release -DTIVEL_TESTS=OFF -DTIVEL_STATIC=ON \
	  -DCMAKE_TOOLCHAIN_FILE=$(abspath cmake/toolchains/aarch64-linux-gnu.cmake) \
	  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
	cmake --build $(PACKAGE_AARCH64_DIR) -j $(JOBS) --target tivel_release

# Every time stamp inside comes from the last commit (see cmake/package.cmake), so the same commit
# gives the same bytes anywhere; make package-reproducible checks that.
package: package-build package-build-aarch64
	@command -v dpkg-shlibdeps >/dev/null || \
	  { echo "package: dpkg-shlibdeps is missing (apt-get install dpkg-dev)" >&2; exit 1; }
	rm -rf $(PACKAGE_DIR)/deb $(PACKAGE_AARCH64_DIR)/deb
	# CPack gives the .deb's own members (control.tar.gz, data.tar.gz) the modes the umask makes.
	cd $(PACKAGE_DIR) && umask 022 && cpack -G DEB -B deb >/dev/null
	cd $(PACKAGE_AARCH64_DIR) && umask 022 && cpack -G DEB -B deb >/dev/null
	bash scripts/make-dist.sh $(DIST_DIR) $(PACKAGE_DIR)/deb/*.deb $(PACKAGE_DIR)/*-static.tar.gz \
	  $(PACKAGE_AARCH64_DIR)/deb/*.deb $(PACKAGE_AARCH64_DIR)/*-static.tar.gz
	@ls -l $(DIST_DIR)
	@cat $(DIST_DIR)/SHA256SUMS

package-reproducible:
	@bash scripts/reproduce-package.sh
