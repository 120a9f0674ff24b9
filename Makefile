# The two commands of the README.
#   make run   builds a release and starts the program
#   make test  builds with AddressSanitizer and UBSan and runs every test
JOBS ?= $(shell nproc)

.PHONY: run test deps release

deps:
	@scripts/install-deps

release: deps
	@cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build build/release -j $(JOBS)

run: release
	./build/release/QBX

test: deps
	@cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVALE_SANITIZE=ON >/dev/null
	@cmake --build build/test -j $(JOBS)
	cd build/test && ctest --output-on-failure -j $(JOBS)
