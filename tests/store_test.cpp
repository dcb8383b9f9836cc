// The store of jogar-web on both back ends: a SQLite file, and a real
// PostgreSQL server that each test starts and removes.
#include <gtest/gtest.h>

#include <thread>

#include "scratch.h"
#include "schema.h"
#include "store.h"
#include "subprocess.h"

namespace {

// The database of one test: a SQLite file in a scratch folder, or a
// PostgreSQL server of its own in one.
class store_place {
public:
	explicit store_place(bool postgresql) : postgresql_(postgresql)
	{
		if (!postgresql_) {
			where_ = (folder_.path() / "games.sqlite3").string();
			return;
		}
		process_run run;
		failure why;
		EXPECT_TRUE(run_process({POSTGRESQL_SERVER,
					 {"start", folder_.path().string()},
					 folder_.path(),
					 {},
					 std::chrono::seconds(60),
					 4096},
					run, why))
			<< why.reason;
		EXPECT_EQ(run.status, 0) << run.err;
		where_ = run.out.substr(0, run.out.find('\n'));
	}
	~store_place()
	{
		process_run run;
		failure why;
		if (postgresql_)
			(void)run_process({POSTGRESQL_SERVER,
					   {"stop", folder_.path().string()},
					   "/",
					   {},
					   std::chrono::seconds(60),
					   4096},
					  run, why);
	}
	store_place(const store_place &) = delete;
	store_place &operator=(const store_place &) = delete;
	const std::string &where() const { return where_; }

private:
	bool postgresql_;
	scratch_folder folder_;
	std::string where_;
};

class store_test : public testing::TestWithParam<bool> {
protected:
	void SetUp() override
	{
		failure why;
		ASSERT_TRUE(store.open(place.where(), why)) << why.reason;
	}
	static stored_game game(const std::string &id, const std::string &owner,
				std::int64_t changed_ms, int pairs_left = 8)
	{
		stored_game g;
		g.id = id;
		g.owner = owner;
		g.deal = unshuffled_deal();
		g.made_ms = g.changed_ms = changed_ms;
		g.pairs_left = pairs_left;
		return g;
	}
	void make(const stored_game &g, creation expected = creation::made,
		  store_caps caps = {0, 1000000, 1000000})
	{
		creation made = creation::made;
		failure why;
		ASSERT_TRUE(store.create(g, caps, made, why)) << why.reason;
		EXPECT_EQ(made, expected) << g.id;
	}
	store_report report()
	{
		store_report r;
		failure why;
		EXPECT_TRUE(store.report(r, why)) << why.reason;
		return r;
	}
	store_place place{GetParam()};
	game_store store;
};

TEST_P(store_test, schema_is_made_once_and_a_newer_one_is_refused)
{
	EXPECT_EQ(report().schema, latest_schema());
	game_store again;
	failure why;
	ASSERT_TRUE(again.open(place.where(), why)) << why.reason;
	EXPECT_EQ(report().schema, latest_schema());
	auto db = connect_sql(place.where(), why);
	ASSERT_TRUE(db && db->run("UPDATE schema_version SET version = 99", {}, nullptr, why));
	game_store newer;
	EXPECT_FALSE(newer.open(place.where(), why));
	EXPECT_NE(why.reason.find("newer"), std::string::npos) << why.reason;
}

TEST_P(store_test, a_change_is_kept_once_at_its_version_with_its_answer)
{
	stored_game g = game("g", "a", 1000);
	make(g);
	stored_game after = g;
	after.version = 1;
	after.pending = 5;
	after.changed_ms = 2000;
	bool kept = false;
	failure why;
	ASSERT_TRUE(store.keep_change(after, {0, 5, -1, -1, "", "first"}, kept, why)) << why.reason;
	EXPECT_TRUE(kept);
	// A second change from version 0 comes too late: nothing of it is kept.
	after.pending = 6;
	ASSERT_TRUE(store.keep_change(after, {0, 6, -1, -1, "", "second"}, kept, why));
	EXPECT_FALSE(kept);
	stored_game now;
	bool exists = false;
	ASSERT_TRUE(store.load("g", now, exists, why) && exists) << why.reason;
	EXPECT_EQ(now.version, 1);
	EXPECT_EQ(now.pending, 5);
	EXPECT_EQ(now.deal, g.deal);
	stored_change change;
	ASSERT_TRUE(store.load_change("g", 0, change, exists, why) && exists);
	EXPECT_EQ(change.answer, "first");
	EXPECT_EQ(report().changes, 1);
	ASSERT_TRUE(store.load("nothing", now, exists, why));
	EXPECT_FALSE(exists);
}

TEST_P(store_test, only_recent_unfinished_games_take_room)
{
	const store_caps caps{10000, 3, 2};
	make(game("old", "a", 5000), creation::made, caps);      // changed too long ago
	make(game("done", "a", 20000, 0), creation::made, caps); // finished
	make(game("a1", "a", 20000), creation::made, caps);
	make(game("a2", "a", 20000), creation::made, caps);
	make(game("a3", "a", 20000), creation::client_full, caps);
	make(game("b1", "b", 20000), creation::made, caps);
	make(game("c1", "c", 20000), creation::store_full, caps);
	EXPECT_EQ(report().unfinished, 4);
	EXPECT_EQ(report().finished, 1);
}

TEST_P(store_test, tidying_removes_old_games_with_their_logs_in_batches)
{
	for (int i = 0; i < 25; ++i) {
		make(game("old-finished-" + std::to_string(i), "a", 100, 0));
		make(game("old-unfinished-" + std::to_string(i), "a", 100));
	}
	make(game("recent-finished", "a", 5000, 0));
	make(game("recent-unfinished", "a", 900));
	stored_game g = game("old-unfinished-0", "a", 100);
	bool kept = false;
	failure why;
	g.version = 1;
	ASSERT_TRUE(store.keep_change(g, {0, 1, -1, -1, "", "{}"}, kept, why) && kept);
	std::vector<int> batches;
	for (int removed = 20; removed == 20;) {
		ASSERT_TRUE(store.tidy(1000, 500, 20, removed, why)) << why.reason;
		batches.push_back(removed);
	}
	EXPECT_EQ(batches, (std::vector<int>{20, 20, 10}));
	EXPECT_EQ(report().finished, 1);
	EXPECT_EQ(report().unfinished, 1);
	EXPECT_EQ(report().changes, 0);
}

// Two servers on one store, each with its own connections, racing to keep
// the same changes: each version of each game is kept exactly once.
TEST_P(store_test, two_servers_racing_keep_each_change_once)
{
	game_store other;
	failure why;
	ASSERT_TRUE(other.open(place.where(), why)) << why.reason;
	constexpr int games = 10;
	constexpr int changes = 20;
	for (int i = 0; i < games; ++i)
		make(game("race-" + std::to_string(i), "a", 100));
	int kept_by[2] = {0, 0};
	auto racer = [&](game_store *s, int &kept_count) {
		for (int v = 0; v < changes; ++v) {
			for (int i = 0; i < games; ++i) {
				stored_game g = game("race-" + std::to_string(i), "a", 100);
				g.version = v + 1;
				bool kept = false;
				failure w;
				if (s->keep_change(g, {v, 0, -1, -1, "", "{}"}, kept, w) && kept)
					++kept_count;
			}
		}
	};
	std::thread one(racer, &store, std::ref(kept_by[0]));
	std::thread two(racer, &other, std::ref(kept_by[1]));
	one.join();
	two.join();
	EXPECT_EQ(kept_by[0] + kept_by[1], games * changes);
	EXPECT_EQ(report().changes, games * changes);
}

INSTANTIATE_TEST_SUITE_P(backends, store_test, testing::Values(false, true),
			 [](const testing::TestParamInfo<bool> &backend) {
				 return backend.param ? "postgresql" : "sqlite";
			 });

} // namespace
