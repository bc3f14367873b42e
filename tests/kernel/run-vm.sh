#!/usr/bin/env bash
# Boots a Debian kernel with simulated WiFi radios (mac80211_hwsim) under QEMU, runs the helper
# against hostapd access points and a wpa_supplicant station inside it, and compares the helper's
# replies with iw's view of the same kernel.
#
#   run-vm.sh --helper STATIC_HELPER --probe STATIC_PROBE [--cache DIR] [--work DIR]
#
# The kernel image and regulatory database packages are downloaded once (apt-get download) into
# the cache folder and unpacked there, never installed on this machine. Exit status 0 when every
# comparison holds.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
helper= probe=
cache=$root/build/kernel-cache
work=
while [ $# -gt 0 ]; do
  case $1 in
    --helper) helper=$2; shift 2 ;;
    --probe) probe=$2; shift 2 ;;
    --cache) cache=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    *) echo "run-vm: unknown argument $1" >&2; exit 2 ;;
  esac
done
[ -x "$helper" ] && [ -x "$probe" ] || { echo "run-vm: need --helper and --probe binaries" >&2; exit 2; }
work=${work:-$cache/work}
started=$(date +%s.%N)
elapsed() { awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }'; }
note() { echo "kernel-test: $* ($(elapsed) s)"; }

# --- host tools -----------------------------------------------------------------------------
missing=()
for package in $(sed 's/#.*//' "$root/scripts/deps/kernel.apt"); do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  [ "$(id -u)" -eq 0 ] || { echo "run-vm: missing ${missing[*]} (install as root)" >&2; exit 1; }
  note "installing ${missing[*]}"
  apt-get -o DPkg::Lock::Timeout=600 update -qq
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
    --no-install-recommends "${missing[@]}" >/dev/null
fi
command -v node >/dev/null || { echo "run-vm: node is needed to compare the results" >&2; exit 1; }

# --- guest kernel and regulatory database ----------------------------------------------------
mkdir -p "$cache/debs"
kernel_package() {
  apt-cache depends linux-image-amd64 2>/dev/null |
    awk '$1 == "Depends:" && $2 ~ /^linux-image-[0-9]/ { print $2; exit }'
}
kpkg=$(kernel_package)
if [ -z "$kpkg" ]; then
  apt-get -o DPkg::Lock::Timeout=600 update -qq
  kpkg=$(kernel_package)
fi
[ -n "$kpkg" ] || { echo "run-vm: no kernel package behind linux-image-amd64" >&2; exit 1; }
kver=${kpkg#linux-image-}
# fetch PACKAGE: path of the candidate version's .deb in the cache, downloaded when missing
# (older versions of the package are dropped).
fetch() {
  local version file
  version=$(apt-cache show --no-all-versions "$1" 2>/dev/null | awk '$1 == "Version:" { print $2; exit }')
  [ -n "$version" ] || { echo "run-vm: no candidate version of $1" >&2; return 1; }
  file=$cache/debs/${1}_${version//:/%3a}_$(apt-cache show --no-all-versions "$1" | awk '$1 == "Architecture:" { print $2; exit }').deb
  if [ ! -f "$file" ]; then
    note "downloading $1 $version" >&2
    rm -f "$cache/debs/${1}_"*.deb
    (cd "$cache/debs" && apt-get download -qq "$1=$version" >/dev/null 2>&1) || true
    [ -f "$file" ] || { echo "run-vm: download of $1 $version failed" >&2; return 1; }
  fi
  echo "$file"
}
# Package lists older than the archive name files it no longer holds: refresh them once.
kdeb=$(fetch "$kpkg") || { apt-get -o DPkg::Lock::Timeout=600 update -qq; kpkg=$(kernel_package); kdeb=$(fetch "$kpkg"); }
kver=${kpkg#linux-image-}
rdeb=$(fetch wireless-regdb)
kdir=$cache/$(basename "$kdeb" .deb)
if [ ! -f "$kdir/.ready" ]; then
  note "unpacking $(basename "$kdeb")"
  rm -rf "$cache/${kpkg}_"* && mkdir -p "$kdir"
  dpkg-deb -x "$kdeb" "$kdir"
  # The package leaves module dependencies to the installer; make them the same way.
  busybox depmod -b "$kdir" "$kver"
  touch "$kdir/.ready"
fi
rdir=$cache/$(basename "$rdeb" .deb)
if [ ! -f "$rdir/.ready" ]; then
  rm -rf "$cache/wireless-regdb_"* && mkdir -p "$rdir"
  dpkg-deb -x "$rdeb" "$rdir"
  touch "$rdir/.ready"
fi

# Modules in load order: each one after everything it depends on (modules.dep lists a module's
# dependencies, the ones it needs directly first).
moddir=$kdir/lib/modules/$kver
module_order() {
  awk -v want="$*" '
    { sub(":", "", $1); path = $1; deps[path] = ""; for (i = 2; i <= NF; i++) deps[path] = deps[path] " " $i
      n = split(path, parts, "/"); name = parts[n]; sub(/\.ko(\.[a-z]+)?$/, "", name); byname[name] = path }
    function visit(p,    list, k, i) {
      if (p in seen) return
      seen[p] = 1
      k = split(deps[p], list, " ")
      for (i = k; i >= 1; i--) visit(list[i])
      print p
    }
    END { k = split(want, names, " ")
          for (i = 1; i <= k; i++) { if (!(names[i] in byname)) { print "missing " names[i] > "/dev/stderr"; exit 1 }
                                    visit(byname[names[i]]) } }' "$moddir/modules.dep"
}
# inet_diag and tcp_diag answer the helper's question which user's program made a connection.
modules=$(module_order mac80211_hwsim ccm ctr cmac inet_diag tcp_diag)

# --- initramfs ---------------------------------------------------------------------------------
rm -rf "$work" && mkdir -p "$work/root"
r=$work/root
mkdir -p "$r"/{bin,sbin,usr/bin,usr/sbin,etc,proc,sys,dev,tmp,run,var,lib/firmware,tivel}
ln -s ../run "$r/var/run"
cp /bin/busybox "$r/bin/busybox"
ln -s busybox "$r/bin/sh"
copy_with_libraries() {
  local binary=$1 lib
  cp "$binary" "$r/usr/sbin/"
  for lib in $(ldd "$binary" | awk '/=> \// { print $3 } /^\t\/[^ ]+ \(/ { print $1 }'); do
    [ -e "$r$lib" ] || { mkdir -p "$r$(dirname "$lib")"; cp -L "$lib" "$r$lib"; }
  done
}
# setcap gives the helper's copy its file capability in the least-privilege checks; genl reads
# nl80211's multicast group ids, to see that iw event has joined them.
for tool in iw genl hostapd hostapd_cli wpa_supplicant wpa_cli setcap; do
  path=$(PATH=/usr/sbin:/sbin:/usr/bin:/bin command -v "$tool") || { echo "run-vm: no $tool" >&2; exit 1; }
  copy_with_libraries "$path"
done
for module in $modules; do
  mkdir -p "$r/lib/modules/$kver/$(dirname "$module")"
  cp "$moddir/$module" "$r/lib/modules/$kver/$module"
done
printf '%s\n' $modules >"$r/tivel/modules"
cp "$rdir/lib/firmware/regulatory.db-upstream" "$r/lib/firmware/regulatory.db"
cp "$rdir/lib/firmware/regulatory.db.p7s-upstream" "$r/lib/firmware/regulatory.db.p7s"
# tivel: a user other than the helper's, whose programs the helper must turn away.
printf 'root:x:0:0:root:/root:/bin/sh\nnobody:x:65534:65534:nobody:/nonexistent:/bin/sh\ntivel:x:1000:1000:tivel:/tmp:/bin/sh\n' >"$r/etc/passwd"
printf 'root:x:0:\nnogroup:x:65534:\ntivel:x:1000:\n' >"$r/etc/group"
cp "$here/guest/init" "$r/init"
chmod 755 "$r/init"
cp -r "$here/scenes" "$r/tivel/scenes"
cp "$helper" "$r/tivel/tamberline-tivel-helper"
cp "$probe" "$r/tivel/tivel-ws-probe"
(cd "$r" && find . | LC_ALL=C sort | busybox cpio -o -H newc 2>/dev/null | gzip -1) >"$work/initrd.gz"
note "initramfs $(du -k "$work/initrd.gz" | cut -f1) KiB, modules: $(echo $modules | tr ' ' '\n' | sed 's,.*/,,; s,\.ko$,,' | paste -sd' ')"

# --- boot ---------------------------------------------------------------------------------------
log=$work/console.log
# Software emulation only: /dev/kvm exists on these machines, but a guest started on it hung
# without a line of output, so it is not reliably usable.
accel=tcg
note "booting $kver (accel=$accel)"
set +e
timeout 420 qemu-system-x86_64 -machine pc,accel=$accel -cpu max -m 1024 -smp 1 \
  -display none -nodefaults -no-reboot -serial "file:$log" \
  -kernel "$kdir/boot/vmlinuz-$kver" -initrd "$work/initrd.gz" \
  -append "console=ttyS0 quiet panic=-1"
qemu_status=$?
set -e
note "guest finished (qemu status $qemu_status)"
node "$here/judge.mjs" "$log"
