#pragma once
// The arrester register, rounds and results between a local archive and the
// team server, both ways, matched by uuid (results by round and arrester):
// what one side lacks is copied to it, and of two different copies the one
// modified later wins on both sides.
class Archive;
struct SyncReport;

// Called by SyncToServer after the recordings and downloads; fills the
// register counts of `report`. False on failure (report.outcome and
// report.error say which side failed).
bool SyncAssets(Archive &local, Archive &remote, bool dryRun, SyncReport &report);
