// Table access beside std::unordered_map: integer keys that fill the array part, and reads by
// interned string key.
#include <benchmark/benchmark.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "engine/internal.h"

namespace {

constexpr int kIntKeys = 1000000;
constexpr int kStringKeys = 1000;

std::string KeyText(int i) {
    return "key" + std::to_string(i);
}

// Stores and reads through the generic entry points, as the interpreter does; the collection
// that frees the table is part of the cost, as the map's destruction is on the peer's side.
void IntKeysOurs(benchmark::State& state) {
    qvVmState* L = VmOpen();
    for (auto _ : state) {
        qvTable* t = VmTableNew(L, 0, 0);
        qvValue key;
        for (int i = 1; i <= kIntKeys; ++i) {
            qv::SetNumber(&key, i);
            qv::SetNumber(VmTableSet(L, t, &key), i);
        }
        double sum = 0;
        for (int i = 1; i <= kIntKeys; ++i) {
            qv::SetNumber(&key, i);
            sum += VmTableGet(t, &key)->value.n;
        }
        benchmark::DoNotOptimize(sum);
        VmCollectGarbage(L);
    }
    VmClose(L);
}

void IntKeysPeer(benchmark::State& state) {
    for (auto _ : state) {
        std::unordered_map<double, double> map;
        for (int i = 1; i <= kIntKeys; ++i) map[i] = i;
        double sum = 0;
        for (int i = 1; i <= kIntKeys; ++i) sum += map.find(i)->second;
        benchmark::DoNotOptimize(sum);
    }
}

void StringKeysOurs(benchmark::State& state) {
    qvVmState* L = VmOpen();
    qvTable* t = VmTableNew(L, 0, 0);
    qv::SetTable(VmTableSetNum(L, qv::TableOf(&L->g->registry), 1), t);
    std::vector<qvString*> keys;
    for (int i = 0; i < kStringKeys; ++i) {
        const std::string text = KeyText(i);
        qvString* s = VmNewString(L, text.data(), text.size());
        keys.push_back(s);
        qvValue key;
        qv::SetString(&key, s);
        qv::SetNumber(VmTableSet(L, t, &key), i);
    }
    for (auto _ : state) {
        double sum = 0;
        for (qvString* s : keys) sum += VmTableGetStr(t, s)->value.n;
        benchmark::DoNotOptimize(sum);
    }
    VmClose(L);
}

void StringKeysPeer(benchmark::State& state) {
    std::unordered_map<std::string, double> map;
    std::vector<std::string> keys;
    for (int i = 0; i < kStringKeys; ++i) {
        keys.push_back(KeyText(i));
        map[keys.back()] = i;
    }
    for (auto _ : state) {
        double sum = 0;
        for (const std::string& key : keys) sum += map.find(key)->second;
        benchmark::DoNotOptimize(sum);
    }
}

const bool kRegistered = [] {
    benchmark::RegisterBenchmark("E1a:int keys 1..1e6 store+read/ours", IntKeysOurs)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("E1a:int keys 1..1e6 store+read/peer", IntKeysPeer)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("E1b:1000 interned string keys read/ours", StringKeysOurs)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("E1b:1000 interned string keys read/peer", StringKeysPeer)
        ->Unit(benchmark::kMicrosecond);
    return true;
}();

}  // namespace
