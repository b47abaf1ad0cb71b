// The headers most test files include, compiled once for every test target (see
// kestio_test_headers in cmake/KestioTargets.cmake) instead of once per file. A file still
// includes what it uses; this only makes that cheap.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <random>
#include <set>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include <QApplication>
#include <QByteArray>
#include <QColor>
#include <QFont>
#include <QImage>
#include <QObject>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
