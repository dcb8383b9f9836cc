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
		g.play.deal = unshuffled_deal();
		g.made_ms = g.changed_ms = changed_ms;
		g.play.pairs_left = pairs_left;
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

TEST_P(store_test, a_game_kept_before_players_were_is_a_game_alone_after_the_upgrade)
{
	store_place older{GetParam()};
	failure why;
	auto db = connect_sql(older.where(), why);
	std::int64_t version = 0;
	ASSERT_TRUE(db && upgrade_schema(*db, version, why, 1)) << why.reason;
	ASSERT_EQ(version, 1);
	ASSERT_TRUE(db->run("INSERT INTO games VALUES ('old', 'a', '0,1,2,3,4,5,6,7,8,9,10,11,12,"
			    "13,14,15', 1, 2, 3, 1, 7, 3, -1, 0)",
			    {}, nullptr, why))
		<< why.reason;
	game_store upgraded;
	ASSERT_TRUE(upgraded.open(older.where(), why)) << why.reason;
	stored_game g;
	bool exists = false;
	ASSERT_TRUE(upgraded.load("old", g, exists, why) && exists) << why.reason;
	EXPECT_EQ(g.play.pairs_left, 7);
	ASSERT_EQ(g.play.players.size(), 1u);
	EXPECT_EQ(g.play.players[0].computer, computer_level::none);
	EXPECT_EQ(g.play.turn, 0);
}

TEST_P(store_test, a_change_is_kept_once_at_its_version_with_its_answer)
{
	stored_game g = game("g", "a", 1000);
	g.play.players = {{"Ana Maria", computer_level::none, 0}, {"", computer_level::hard, 0}};
	make(g);
	stored_game after = g;
	after.version = 1;
	after.play.pending = 5;
	after.play.turn = 1;
	after.play.players[1].pairs = 3;
	after.changed_ms = 2000;
	bool kept = false;
	failure why;
	ASSERT_TRUE(store.keep_change(after, {0, 5, -1, -1, "", "first", 1}, kept, why))
		<< why.reason;
	EXPECT_TRUE(kept);
	// A second change from version 0 comes too late: nothing of it is kept.
	after.play.pending = 6;
	ASSERT_TRUE(store.keep_change(after, {0, 6, -1, -1, "", "second"}, kept, why));
	EXPECT_FALSE(kept);
	stored_game now;
	bool exists = false;
	ASSERT_TRUE(store.load("g", now, exists, why) && exists) << why.reason;
	EXPECT_EQ(now.version, 1);
	EXPECT_EQ(now.play.pending, 5);
	EXPECT_EQ(now.play.deal, g.play.deal);
	ASSERT_EQ(now.play.players.size(), 2u);
	EXPECT_EQ(now.play.players[0].name, "Ana Maria");
	EXPECT_EQ(now.play.players[1].computer, computer_level::hard);
	EXPECT_EQ(now.play.players[1].pairs, 3);
	EXPECT_EQ(now.play.turn, 1);
	std::vector<stored_change> log;
	ASSERT_TRUE(store.load_log("g", log, why)) << why.reason;
	ASSERT_EQ(log.size(), 1u);
	EXPECT_EQ(log[0].first, 5);
	EXPECT_EQ(log[0].player, 1);
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
