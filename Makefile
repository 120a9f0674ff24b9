# The two commands of the README.
#   make run   builds a release and starts the program through its launcher
#   make test  builds with AddressSanitizer and UBSan and runs every test
JOBS ?= $(shell nproc)

.PHONY: run test deps release

deps:
	@scripts/install-deps

release: deps
	@cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
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
	@cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVALE_SANITIZE=ON >/dev/null
	@cmake --build build/test -j $(JOBS)
	cd build/test && ctest --output-on-failure -j $(JOBS)
