# Installing and packaging for users. A build tree of its own (Release, no tests), so a fresh
# machine needs nothing beyond the compiler and CMake for `make install`.
#   make install [PREFIX=/usr/local] [DESTDIR=...]   binary to bin/, manual page to share/man/man1/,
#                                                      user units (start on demand) to
#                                                      lib/systemd/user/
#   make install SETCAP=1                              also gives the binary cap_net_admin (setcap),
#                                                      so fresh scans need no sudo
#   make uninstall [PREFIX=...] [DESTDIR=...]          removes those files again (no build needed)
#   make package [ARCH=amd64|arm64]                    build/dist: .debs (amd64, arm64), static
#                                                      tarballs (x86_64, aarch64), SHA256SUMS; arm64
#                                                      only where Debian's cross compiler is, or
#                                                      the one ARCH asks for
#   make package-reproducible                          make package in two clean clones, compared
PREFIX ?= /usr/local
SETCAP ?=
PACKAGE_DIR ?= build/package
PACKAGE_AARCH64_DIR ?= build/package-aarch64
DIST_DIR ?= build/dist

.PHONY: package-check-arch install install-build install-files uninstall package package-build \
  package-build-aarch64 package-build-amd64 package-build-arm64 package-reproducible

# What `make install` puts under $(DESTDIR)$(PREFIX), and all that `make uninstall` removes, so
# uninstalling needs no build folder. tests/package/check_install.sh holds install to this list.
INSTALLED_FILES := bin/tamberline-tivel-helper share/man/man1/tamberline-tivel-helper.1.gz \
  lib/systemd/user/tamberline-tivel-helper.socket lib/systemd/user/tamberline-tivel-helper.service

package-build:
	cmake -S . -B $(PACKAGE_DIR) -DCMAKE_BUILD_TYPE=Release -DTIVEL_TESTS=OFF >/dev/null
	cmake --build $(PACKAGE_DIR) -j $(JOBS)

# Only what is installed: the helper and its manual page (no simulator, test kit or benchmarks).
install-build:
	cmake -S . -B $(PACKAGE_DIR) -DCMAKE_BUILD_TYPE=Release -DTIVEL_TESTS=OFF >/dev/null
	cmake --build $(PACKAGE_DIR) -j $(JOBS) --target tamberline-tivel-helper tivel_man_page

install: install-build
	@$(MAKE) --no-print-directory install-files

# Installs what PACKAGE_DIR has built.
install-files:
	DESTDIR="$(DESTDIR)" cmake --install $(PACKAGE_DIR) --prefix "$(PREFIX)" --strip
	@if [ "$(SETCAP)" = 1 ]; then \
	  command -v setcap >/dev/null || { echo "install: SETCAP=1 needs setcap (libcap2-bin)" >&2; exit 1; }; \
	  echo "setcap cap_net_admin=ep $(DESTDIR)$(PREFIX)/bin/tamberline-tivel-helper"; \
	  setcap cap_net_admin=ep "$(DESTDIR)$(PREFIX)/bin/tamberline-tivel-helper"; \
	fi
	@echo "To start the helper whenever the page connects: systemctl --user enable --now tamberline-tivel-helper.socket"

# Directories stay, since others may share them. A user who enabled the socket unit disables it
# first (the hint below), or the user manager keeps a link to a unit that is gone.
uninstall:
	@found=0; for file in $(INSTALLED_FILES); do \
	  path="$(DESTDIR)$(PREFIX)/$$file"; \
	  if [ -e "$$path" ] || [ -L "$$path" ]; then echo "rm $$path"; rm -f "$$path" || exit 1; found=1; fi; \
	done; \
	if [ $$found = 0 ]; then echo "uninstall: nothing installed under $(DESTDIR)$(PREFIX)" >&2; exit 1; fi
	@echo "If you had enabled it: systemctl --user disable --now tamberline-tivel-helper.socket"

# The same release for 64-bit ARM: Debian's cross compiler, everything linked static.
package-build-aarch64:
	@command -v aarch64-linux-gnu-g++ >/dev/null || \
	  { echo "package: aarch64-linux-gnu-g++ is missing (apt-get install g++-aarch64-linux-gnu)" >&2; exit 1; }
	cmake -S . -B $(PACKAGE_AARCH64_DIR) -DCMAKE_BUILD_TYPE=Release -DTIVEL_TESTS=OFF -DTIVEL_STATIC=ON \
	  -DCMAKE_TOOLCHAIN_FILE=$(abspath cmake/toolchains/aarch64-linux-gnu.cmake) \
	  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
	cmake --build $(PACKAGE_AARCH64_DIR) -j $(JOBS) --target tivel_release

package-build-amd64: package-build
package-build-arm64: package-build-aarch64

# What `make package` builds: the ARCH asked for, else this machine's amd64 release and the arm64
# one where the cross compiler is installed (said when it is not).
ARCH ?=
PACKAGE_CROSS := $(shell command -v aarch64-linux-gnu-g++ 2>/dev/null)
PACKAGE_ARCHES := $(or $(ARCH),amd64 $(if $(PACKAGE_CROSS),arm64))
PACKAGE_BUILD_DIR_amd64 := $(PACKAGE_DIR)
PACKAGE_BUILD_DIR_arm64 := $(PACKAGE_AARCH64_DIR)
PACKAGE_BUILD_DIRS := $(foreach arch,$(PACKAGE_ARCHES),$(PACKAGE_BUILD_DIR_$(arch)))

package-check-arch:
	@case "$(ARCH)" in ""|amd64|arm64) ;; *) echo "package: ARCH=$(ARCH): give amd64 or arm64" >&2; exit 2 ;; esac
	@if [ -z "$(ARCH)" ] && [ -z "$(PACKAGE_CROSS)" ]; then \
	  echo "package: no aarch64-linux-gnu-g++, so amd64 only (apt-get install g++-aarch64-linux-gnu adds arm64)"; fi
	@command -v dpkg-shlibdeps >/dev/null || \
	  { echo "package: dpkg-shlibdeps is missing (apt-get install dpkg-dev)" >&2; exit 1; }

# Every time stamp inside comes from the last commit (see cmake/package.cmake), so the same commit
# gives the same bytes anywhere; make package-reproducible checks that.
package: package-check-arch
	@$(MAKE) --no-print-directory $(addprefix package-build-,$(PACKAGE_ARCHES))
	# CPack gives the .deb's own members (control.tar.gz, data.tar.gz) the modes the umask makes.
	for dir in $(PACKAGE_BUILD_DIRS); do \
	  rm -rf $$dir/deb && (cd $$dir && umask 022 && cpack -G DEB -B deb >/dev/null) || exit 1; \
	done
	bash scripts/make-dist.sh $(DIST_DIR) $(foreach dir,$(PACKAGE_BUILD_DIRS),$(dir)/deb/*.deb $(dir)/*-static.tar.gz)
	@ls -l $(DIST_DIR)
	@cat $(DIST_DIR)/SHA256SUMS

package-reproducible:
	@bash scripts/reproduce-package.sh
