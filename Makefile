# make play: set up, build and start the game (only the game is built). make test: set up, build
# everything and run every test.
# make web: the game as a web page in build-web/site, installable and able to start offline;
# make serve: serves it on http://127.0.0.1:8000; make rankings: serves it with a rankings server
# on http://127.0.0.1:8080; make web-test: the page in a real browser
# (Chromium), against the headless twin, offline, on emulated phones and tablets, and against a
# rankings server.
# make fuzz: build the high-score file loader's fuzz target with clang and run it for a minute.
# make deb: the Debian package of the game in build-deb/; make deb-test: builds it and checks it
# (lintian, installs, runs, upgrades and goes without touching scores); make deb-reproducible: the
# same, and a second build in another folder that must give the same bytes.
BUILD      ?= build
BUILD_ASAN ?= build-asan
BUILD_FUZZ ?= build-fuzz
BUILD_WEB  ?= build-web
FUZZ_SECONDS ?= 60
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_GEN  := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")

.PHONY: play test build setup configure asan install bench fuzz clean web web-setup serve rankings web-test windows deb deb-setup deb-test deb-reproducible

setup:
	@./scripts/install-deps.sh

configure: setup
	@cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

play: configure
	@cmake --build $(BUILD) -j $(JOBS) --target quillmarsh-rall
	@./scripts/play.sh $(BUILD)/quillmarsh-rall

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	@$(MAKE) --no-print-directory asan
	@$(MAKE) --no-print-directory web-test

# The sanitizer build runs every test but those bound by the wall clock (the label timing, and the
# game that the window plays again in real time): the native run has them. It is
# built at -O1 with line tables only (-g1), which the sanitizers' reports need: full debugging
# information makes Boost.Beast's sources take three minutes each.
asan: setup
	@cmake -S . -B $(BUILD_ASAN) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQR_SANITIZE=ON \
		-DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" >/dev/null
	@cmake --build $(BUILD_ASAN) -j $(JOBS)
	@cd $(BUILD_ASAN) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS) \
		-LE timing -E '^window\.replay$$'

# Speed of the hot paths (Google Benchmark), in a Release build of its own.
bench: setup
	@cmake -S . -B build-bench $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DQR_BUILD_BENCH=ON -DQR_BUILD_TESTS=OFF >/dev/null
	@cmake --build build-bench -j $(JOBS) --target rall_bench
	@./build-bench/rall_bench

# The web page. Emscripten's JavaScript tools look for their node modules in Debian's folder.
web-setup:
	@./scripts/install-web-deps.sh

# Its icons are drawn by rall-icon of the native build $(BUILD) (Emscripten builds no tools of
# this machine), whose folder web-icons the web build copies into the site.
web: web-setup
	@test -f $(BUILD)/CMakeCache.txt || $(MAKE) --no-print-directory configure
	@cmake --build $(BUILD) -j $(JOBS) --target web-icons
	@NODE_PATH=/usr/share/nodejs emcmake cmake -S . -B $(BUILD_WEB) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release \
		-DQR_WINDOW=OFF -DQR_BUILD_TESTS=OFF -DQR_WEB_ICONS=$(abspath $(BUILD))/web-icons >/dev/null
	@NODE_PATH=/usr/share/nodejs cmake --build $(BUILD_WEB) -j $(JOBS)
	@echo "The page: $(BUILD_WEB)/site/"

serve: web
	@echo "Serving the game on http://127.0.0.1:8000/ (Ctrl+C stops)"
	@cd $(BUILD_WEB)/site && python3 -m http.server 8000 --bind 127.0.0.1

# The page with a rankings server of its own, its database one SQLite file in RANKINGS_DATA: ranked
# games, the rankings and their replays on http://127.0.0.1:8080/.
RANKINGS_DATA ?= $(HOME)/.local/share/quillmarsh-rall-server
rankings: web configure
	@cmake --build $(BUILD) -j $(JOBS) --target quillmarsh-rall-server
	@echo "The page with its rankings on http://127.0.0.1:8080/ (Ctrl+C stops; the rankings stay in $(RANKINGS_DATA))"
	@$(BUILD)/src/server/quillmarsh-rall-server --listen 127.0.0.1:8080 --data-dir $(RANKINGS_DATA) \
		--site $(BUILD_WEB)/site

# The page in headless Chromium, compared with the headless twin of the native build.
web-test: web configure
	@cmake --build $(BUILD) -j $(JOBS) --target quillmarsh-rall quillmarsh-rall-server server_record_game
	@cd web/tests && npm ci --no-audit --no-fund --loglevel=error >/dev/null
	@node web/tests/web-test.mjs $(BUILD_WEB)/site $(BUILD)/quillmarsh-rall
	@node web/tests/offline-test.mjs $(BUILD_WEB)/site $(BUILD)/quillmarsh-rall
	@node web/tests/touch-test.mjs $(BUILD_WEB)/site $(BUILD)/quillmarsh-rall
	@node web/tests/ranked-test.mjs $(BUILD_WEB)/site $(BUILD)/quillmarsh-rall $(BUILD)/src/server/quillmarsh-rall-server \
	  $(BUILD)/tests/server_record_game

# Installs under ~/.local without root: the game, its desktop entry, icons and manual page.
PREFIX ?= $(HOME)/.local
install: build
	@cmake --install $(BUILD) --prefix $(PREFIX)

# New inputs go to $(BUILD_FUZZ)/corpus; fuzz/corpus holds the committed seeds.
fuzz: setup
	@cmake -S fuzz -B $(BUILD_FUZZ) $(CMAKE_GEN) -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	@cmake --build $(BUILD_FUZZ) -j $(JOBS)
	@mkdir -p $(BUILD_FUZZ)/corpus
	@$(BUILD_FUZZ)/hiscore_loader_fuzzer -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
		$(BUILD_FUZZ)/corpus fuzz/corpus

# The Windows build, cross-compiled into build-win64 and tested under Wine; its zip and installer
# go to build-win64/dist (scripts/windows.sh says what it does step by step).
windows: setup
	@BUILD=$(BUILD) JOBS=$(JOBS) ./scripts/windows.sh

# The Debian package, built by dpkg-buildpackage in a clean copy of the tree (debian/build-copy.sh
# says what the copy holds) and left in build-deb/ as quillmarsh-rall_VERSION_ARCH.deb.
deb-setup: setup
	@./scripts/install-deb-deps.sh

deb: deb-setup
	@debian/build-copy.sh build-deb

deb-test: deb-setup
	@./tests/deb-test.sh build-deb

deb-reproducible: deb-setup
	@QR_DEB_REPRODUCIBLE=1 ./tests/deb-test.sh build-deb

clean:
	rm -rf $(BUILD) $(BUILD_ASAN) $(BUILD_FUZZ) $(BUILD_WEB) build-win64 build-deb
