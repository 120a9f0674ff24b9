# The commands of the README.
#   make run      builds a release and starts the program through its launcher
#   make test     builds with AddressSanitizer and UBSan and runs every test
#   make install  builds a release and installs it into PREFIX (below DESTDIR, when given)
JOBS ?= $(shell nproc)
PREFIX ?= /usr/local
DESTDIR ?=
# Where the polkit action goes; empty: PREFIX/share/polkit-1/actions.
POLKIT_ACTIONS_DIR ?=

.PHONY: run test deps release install

deps:
	@scripts/install-deps

release: deps
	@cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVALE_TEST_HOOKS=OFF >/dev/null
	@cmake --build build/release -j $(JOBS)

# The launcher QBX starts the main program beside it. Without a display (no DISPLAY, WAYLAND_DISPLAY
# or QT_QPA_PLATFORM) both run on Qt's offscreen platform: they start, log and wait, unseen.
run: release
	@if [ -z "$$DISPLAY$$WAYLAND_DISPLAY$$QT_QPA_PLATFORM" ]; then \
	  echo "make run: no display; starting on QT_QPA_PLATFORM=offscreen (Ctrl-C ends it)"; \
	  QT_QPA_PLATFORM=offscreen ./build/release/QBX; \
	else \
	  ./build/release/QBX; \
	fi

test: deps
	@cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVALE_SANITIZE=ON -DCORVALE_TEST_HOOKS=ON >/dev/null
	@cmake --build build/test -j $(JOBS)
	cd build/test && ctest --output-on-failure -j $(JOBS)

# The programs and their files into PREFIX/lib/corvale, the command PREFIX/bin/corvale, a desktop
# entry and the polkit action that lets pkexec start the launcher (see README.md, "Installing").
install: release
	DESTDIR="$(DESTDIR)" POLKIT_ACTIONS_DIR="$(POLKIT_ACTIONS_DIR)" cmake --install build/release --prefix "$(PREFIX)"
